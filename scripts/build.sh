#!/usr/bin/env bash
# Builds the native configuration (build/native) and the Windows one this machine runs: the
# 32-bit build (build/win) where 32-bit code runs, with the x86-64 unit tests beside it
# (build/win64), else the whole x86-64 build (build/win64) and the 32-bit release program alone
# (build/win). RMT_FORCE_X64=1 takes the x86-64 path on any machine. RMT_SKIP_NATIVE=1 leaves the
# native configuration out: the test command builds the portable code's tests with the sanitizers
# alone, which run the same tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine_env.sh"
source "$root/scripts/ccache_env.sh"
if [ "${RMT_SKIP_NATIVE:-}" != 1 ]; then
  cmake -S "$root" -B "$root/build/native" -DCMAKE_BUILD_TYPE=Release "${cmake_launcher[@]}" >/dev/null
  cmake --build "$root/build/native" -j"$(nproc)"
fi

configure_windows() {  # DIR TOOLCHAIN
  cmake -S "$root" -B "$root/build/$1" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2.cmake" "${cmake_launcher[@]}" >/dev/null
}
configure_windows win64 mingw-x86_64
if [ "$(windows_build_name)" = win ]; then
  configure_windows win mingw-i686
  cmake --build "$root/build/win" -j"$(nproc)"
  cmake --build "$root/build/win64" -j"$(nproc)" --target unit_tests
else
  cmake --build "$root/build/win64" -j"$(nproc)"
  # The program users get, all the same: the test command runs it under emulation, and the
  # package test packs it.
  configure_windows win mingw-i686
  cmake --build "$root/build/win" -j"$(nproc)" --target RivermeshTools
fi
