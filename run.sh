#!/usr/bin/env bash
# Installs what is missing, builds the viewer and postvue-cli (nothing else),
# and starts the viewer on the sample store (or on the store given as the
# first argument).
set -euo pipefail
# A store named on the command line is taken relative to where the user stands.
if [ $# -gt 0 ]; then store="$(realpath -m -- "$1")"; else store=""; fi
cd "$(dirname "$0")"
. tools/deps.sh
postvue_install_deps "${POSTVUE_BUILD_PACKAGES[@]}"

[ -n "$store" ] || store="examples/Sample.dbx"
# A new build folder gets only what the viewer needs; one that ./test.sh made
# keeps its settings, so neither undoes the other's work.
options=()
[ -f build/CMakeCache.txt ] || options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTVUE_BUILD_TESTS=OFF -DPOSTVUE_BUILD_BENCH=OFF)
cmake -S . -B build -G Ninja -DPOSTVUE_BUILD_APP=ON "${options[@]}" >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target postvue postvue-cli

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here, so the viewer cannot open a window. The store's messages, listed by postvue-cli:"
  exec build/cli/postvue-cli list "$store"
fi
exec build/app/qt/postvue "$store"
