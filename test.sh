#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite three times:
# a normal build, a build under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the Windows build (mingw-w64) run under Wine; then packs the Windows programs
# and tests their setup program under Wine.
# Between the first two, the front door: ./run.sh must open the viewer.
# Ends with the failed and the skipped tests (with their reasons), and one
# line over all builds: "N passed, M failed, K skipped".
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh
postvue_install_deps "${POSTVUE_BUILD_PACKAGES[@]}" "${POSTVUE_FRONT_DOOR_PACKAGES[@]}" \
  "${POSTVUE_WINDOWS_PACKAGES[@]}"
# Tests write and read file names in any script: Wine, for one, makes them
# only under a UTF-8 locale, and a bare shell (env -i, cron, CI) has none.
export LC_ALL=C.UTF-8

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

# Runs the tests of one build folder; their results go to its junit.xml for
# the summary. A failing test does not stop the other builds.
results=()
failed=0
postvue_run_tests() {
  local dir="$1"
  shift
  rm -f "$dir/junit.xml"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit junit.xml "$@" || failed=1
  [ ! -f "$dir/junit.xml" ] || results+=("$dir/junit.xml")
}

echo "== Normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=ON
cmake --build build -j "$jobs"
postvue_run_tests build

echo "== Front door: ./run.sh on a virtual display"
tools/front-door.sh build/front-door.xml || failed=1
results+=(build/front-door.xml)

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPOSTVUE_SANITIZE=ON -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
postvue_run_tests build-sanitize

echo "== Windows build (mingw-w64), tested under Wine"
# A virtual display for the whole stage: the viewer's window tests need one,
# and Wine's desktop takes the display it finds when it starts.
display_file=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x1024x24 3>"$display_file" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$display_file")"
rm -f "$display_file"
# A Wine prefix of this build's own, made once per run, and one Wine server
# for the whole stage instead of one per test process. The server is up
# before the prefix is made, so the services that wineboot starts stay for
# the whole stage: started by the first test, they would hold its output open
# and the test would never seem to end. Wine's own chatter stays out of the
# log and out of what the tests capture. Wine's menu builder stays off, or the
# setup test's shortcut and file types would reach this machine's own menus.
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
wineserver -k >/dev/null 2>&1 || true # one left by an earlier run that was stopped
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true; kill $xvfb 2>/dev/null || true' EXIT
wineboot -i >/dev/null 2>&1
start=$SECONDS
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=OFF
cmake --build build-windows -j "$jobs"
built=$SECONDS
postvue_run_tests build-windows
echo "Windows build: $((built - start)) s; its tests under Wine: $((SECONDS - built)) s"
tools/build-windows.sh build-windows
tools/windows-setup-test.sh build-windows build/bench/GenerateStore build-windows/setup.xml || failed=1
results+=(build-windows/setup.xml)

echo "== Summary"
awk -f tools/TestSummary.awk "${results[@]}"
exit "$failed"
