# Sourced by the check scripts (front-door.sh, windows-setup-test.sh): writes
# a check's outcome as one JUnit test case, for test.sh's summary.
#   postvue_junit FILE SUITE CASE FAILED(0|1) FAILURE_MESSAGE
postvue_junit() {
  local file="$1" suite="$2" name="$3" failed="$4" message="$5"
  [ -n "$file" ] || return 0
  message=$(printf '%s' "$message" | sed -e 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' -e "s/\"/\&quot;/g; s/'/\&apos;/g")
  {
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo "<testsuite name=\"$suite\" tests=\"1\" failures=\"$failed\">"
    if [ "$failed" -eq 0 ]; then
      echo "  <testcase name=\"$name\" status=\"run\"></testcase>"
    else
      echo "  <testcase name=\"$name\" status=\"fail\"><failure message=\"$message\"/></testcase>"
    fi
    echo '</testsuite>'
  } >"$file"
}
