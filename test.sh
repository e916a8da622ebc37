#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice:
# a normal build, and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
# Ends with the skipped tests and their reasons, and one line over both builds:
# "N passed, M failed, K skipped".
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh
postvue_install_deps "${POSTVUE_BUILD_PACKAGES[@]}"

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

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPOSTVUE_SANITIZE=ON -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
postvue_run_tests build-sanitize

echo "== Summary"
awk -f tools/TestSummary.awk "${results[@]}"
exit "$failed"
