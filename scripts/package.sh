#!/usr/bin/env bash
# Builds the release program and packs it with the user guide (packaging/README-zh-CN.txt):
#   scripts/package.sh [BUILD_DIR [DIST_DIR]]
# writes DIST_DIR/RivermeshTools-<version>-win32.zip and its .sha256 (build/package and dist/
# unless told). Two runs on one commit give the same bytes, in whatever build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/package}
dist=${2:-$root/dist}
# The version the program shows in its title and About box names the package.
version=$(sed -n 's/^inline constexpr char kDisplayVersion\[\] = "\([^"]*\)";$/\1/p' \
  "$root/app/layout.h")
if [ -z "$version" ]; then
  echo "package: no kDisplayVersion found in app/layout.h" >&2
  exit 1
fi
bash "$root/scripts/setup.sh"
source "$root/scripts/ccache_env.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" "${cmake_launcher[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target RivermeshTools
python3 "$root/scripts/package_zip.py" "$build/RivermeshTools.exe" \
  "$root/packaging/README-zh-CN.txt" "$version" "$dist"
