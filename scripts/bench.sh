#!/usr/bin/env bash
# Measures the program under Wine against the stand-in's flood and prints the figures of one run
# beside the ratios we aim for; it never passes or fails on time.
#   scripts/bench.sh [--bytes N] [--starts N] [--log-runs N]
# Builds first when needed, uses the end-to-end prefix (build/win/wineprefix), starts Xvfb unless
# DISPLAY is set, and leaves no Wine or Xvfb process of its own behind.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ -f "$root/build/win/CMakeCache.txt" ]; then
  cmake --build "$root/build/win" -j2 --target bench RivermeshTools standin standin64 launcher >/dev/null ||
    exit 1
else
  bash "$root/scripts/build.sh" >/dev/null || exit 1
fi
source "$root/scripts/wine_env.sh"

start_display
trap 'stop_all' EXIT
prepare_prefix "$root/build/win/wineprefix" win64
cd "$root/build/win"
wine bench.exe "$@"
