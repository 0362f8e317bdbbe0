#!/usr/bin/env bash
# Measures the program under Wine and prints every figure as min/median/max over several runs in
# one sitting, beside the aims; it never passes or fails on time.
#   scripts/bench.sh [--bytes N] [--runs N]
# Measures the build this machine runs (build/win, or build/win64 where no 32-bit code runs or
# RMT_FORCE_X64 is set) in its end-to-end prefix; the size figure is always the 32-bit release
# program's. Builds first when needed, starts Xvfb unless DISPLAY is set, and leaves no Wine or
# Xvfb process of its own behind.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine_env.sh"
win="$root/build/$(windows_build_name)"
if [ -f "$win/CMakeCache.txt" ]; then
  cmake --build "$win" -j2 --target bench floor RivermeshTools standin standin64 launcher >/dev/null ||
    exit 1
else
  bash "$root/scripts/build.sh" >/dev/null &&
    cmake --build "$win" -j2 --target bench floor >/dev/null || exit 1
fi
if [ ! -f "$root/build/win/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$root/build/win" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null || exit 1
fi
cmake --build "$root/build/win" -j2 --target RivermeshTools >/dev/null || exit 1

program="$root/build/win/RivermeshTools.exe"
echo "[release program] $(stat -c %s "$program") bytes (aim < 409600), DLLs:" \
  $(i686-w64-mingw32-objdump -p "$program" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')
echo "[measured] $(windows_build_reason)"

[ "$win" = "$root/build/win64" ] && use_wine64 "$win"
start_display
trap 'stop_all' EXIT
prepare_prefix "$win/wineprefix" win64
# The processor time of the wineserver and the X server goes into the figures: the bench reads
# them through Wine's Z: drive. The wineserver is started here, in the foreground, to know its pid.
wineserver -f -p &
export RMT_BENCH_WINESERVER_PID=$!
[ -n "$xvfb_pid" ] && export RMT_BENCH_XSERVER_PID=$xvfb_pid
cd "$win"
bounded 3600 "the benchmark" wine bench.exe "$@"
