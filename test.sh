#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite three times:
# a normal build, a build under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the Windows build (mingw-w64) run under Wine; then packs the Windows programs.
# Ends with the skipped tests and their reasons, and one line over all builds:
# "N passed, M failed, K skipped".
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh
postvue_install_deps "${POSTVUE_BUILD_PACKAGES[@]}" "${POSTVUE_WINDOWS_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

# Runs the tests of one build folder; their results go to its junit.xml for
# the summary. A failing test does not stop the other builds.
results=()
failed=0
# runner, when set, is the command that ctest runs under.
runner=()
postvue_run_tests() {
  local dir="$1"
  shift
  rm -f "$dir/junit.xml"
  "${runner[@]}" ctest --test-dir "$dir" --output-on-failure -j "$jobs" --output-junit junit.xml "$@" || failed=1
  [ ! -f "$dir/junit.xml" ] || results+=("$dir/junit.xml")
}

echo "== Normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=ON
cmake --build build -j "$jobs"
postvue_run_tests build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPOSTVUE_SANITIZE=ON -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
postvue_run_tests build-sanitize

echo "== Windows build (mingw-w64), tested under Wine"
# A Wine prefix of this build's own, made once per run, and one Wine server
# for the whole stage instead of one per test process. Wine's own chatter
# stays out of the log and out of what the tests capture.
export WINEPREFIX="$PWD/build-windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p build-windows
wineserver -k >/dev/null 2>&1 || true # one left by an earlier run that was stopped
wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
start=$SECONDS
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=OFF
cmake --build build-windows -j "$jobs"
built=$SECONDS
# The viewer's window tests need a display: a virtual one of their own.
runner=(xvfb-run -a)
postvue_run_tests build-windows
runner=()
echo "Windows build: $((built - start)) s; its tests under Wine: $((SECONDS - built)) s"
tools/build-windows.sh build-windows

echo "== Summary"
awk -f tools/TestSummary.awk "${results[@]}"
exit "$failed"
