#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice:
# a normal build, and a build under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
. tools/deps.sh
postvue_install_deps "${POSTVUE_BUILD_PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=offscreen

echo "== Normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPOSTVUE_SANITIZE=ON -DPOSTVUE_BUILD_APP=ON -DPOSTVUE_BUILD_TESTS=ON -DPOSTVUE_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
