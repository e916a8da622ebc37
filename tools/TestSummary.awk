# Reads the JUnit files that ctest --output-junit writes (one per build) and
# prints every failed test with its build, every skipped test with its
# reason, then one line:
#   N passed, M failed, K skipped
# A test program that skips some of its own cases (Qt Test's QSKIP) passes as
# a whole; its skipped cases are listed too, so no reason goes unseen.
function unescape(s) {
  gsub(/&lt;/, "<", s); gsub(/&gt;/, ">", s); gsub(/&quot;/, "\"", s); gsub(/&apos;/, "'", s)
  gsub(/&amp;/, "\\&", s)
  return s
}
function attribute(line, key,    rest) {
  if (!match(line, key "=\"[^\"]*\"")) return ""
  rest = substr(line, RSTART + length(key) + 2, RLENGTH - length(key) - 3)
  return unescape(rest)
}
function build_of(file,    parts, n) {
  n = split(file, parts, "/")
  return n > 1 ? parts[n - 1] : file
}
/<testcase / {
  name = attribute($0, "name"); status = attribute($0, "status"); reason = ""; message = ""; inSkip = 0
  if (status == "fail") { ++failed; failures = failures "  failed in " build_of(FILENAME) ": " name "\n" }
  else if (status == "notrun" || status == "disabled") { ++skipped; pending = 1 }
  else ++passed
  next
}
# GoogleTest: the lines between "file:line: Skipped" and "[  SKIPPED ]" give the reason.
/: Skipped$/ { inSkip = 1; next }
/\[  SKIPPED \]/ { inSkip = 0; next }
inSkip { reason = reason (reason == "" ? "" : " ") unescape($0); next }
# Qt Test: "SKIP   : Class::function(row) reason", then a "Loc:" line.
/^SKIP   : / {
  line = unescape(substr($0, 10))
  print "  skipped in " build_of(FILENAME) ": " name ": " line
  next
}
/<skipped message=/ { message = attribute($0, "message"); next }
/<\/testcase>/ {
  if (pending) print "  skipped in " build_of(FILENAME) ": " name ": " (reason != "" ? reason : message)
  pending = 0
  next
}
END { printf "%s%d passed, %d failed, %d skipped\n", failures, passed, failed, skipped }
