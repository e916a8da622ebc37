#!/usr/bin/env bash
# The front door, as a new user meets it: runs the README's first command
# (./run.sh) on a virtual display of its own and waits for the viewer's window
# on the sample store, then checks that every program path the README names
# is there. Writes the outcome as one JUnit test case to the file given (for
# test.sh's summary) and exits 1 when the door is shut.
#   tools/front-door.sh [JUNIT_FILE]
set -uo pipefail
cd "$(dirname "$0")/.."
. tools/junit.sh
junit="${1:-}"
caption="Postvue - [Sample]"
log=$(mktemp)
problems=()

display_file=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
viewer=""
cleanup() {
  [ -z "$viewer" ] || kill "$viewer" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  rm -f "$display_file" "$log"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
if [ ! -s "$display_file" ]; then
  problems+=("Xvfb did not start")
else
  # As the user's shell has it: a real display, not the tests' offscreen one.
  env -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY DISPLAY=":$(cat "$display_file")" ./run.sh >"$log" 2>&1 &
  viewer=$!
  # run.sh may have to build first; the window then comes within seconds.
  window=""
  for _ in $(seq 3000); do
    window=$(DISPLAY=":$(cat "$display_file")" xdotool search --onlyvisible --name "^${caption//[/\\[}\$" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    kill -0 "$viewer" 2>/dev/null || break
    sleep 0.2
  done
  if [ -z "$window" ]; then
    problems+=("./run.sh showed no window \"$caption\"; its output ends:" "$(tail -n 15 "$log")")
  fi
fi

# Every program the README names under build/ must be where it says.
for program in $(grep -o -E '\bbuild/[A-Za-z0-9_/.-]*postvue(-cli)?\b' README.md | sort -u); do
  [ -x "$program" ] || problems+=("README names $program, but ./run.sh built no such program")
done

if [ ${#problems[@]} -eq 0 ]; then
  echo "front door: ./run.sh opened \"$caption\"; every program the README names is there"
else
  printf 'front door: %s\n' "${problems[@]}" >&2
fi
postvue_junit "$junit" front-door FrontDoor "$(( ${#problems[@]} > 0 ))" \
  "the README's first command does not open the viewer"
[ ${#problems[@]} -eq 0 ]
