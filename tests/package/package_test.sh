#!/usr/bin/env bash
# Builds the release package twice from these sources, in two build folders of different names
# and lengths, and checks both packages and what they hold; writes a JUnit report.
#   tests/package/package_test.sh RESULTS_XML [RELEASE_BUILD_DIR]
# RELEASE_BUILD_DIR: a build folder of the release configuration made by scripts/build.sh (the test
# command passes build/win). The first package is made from it as it stands; the second is always
# built from nothing, so the two still compare builds in different folders.
set -euo pipefail
results=$1
first=${2:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/build/package-test
# From nothing each time: a build folder left from an earlier run would compare nothing.
rm -rf "$work"
mkdir -p "$work"
copies=(one second-copy)
for copy in "${copies[@]}"; do
  build=$work/$copy/build
  if [ "$copy" = one ] && [ -n "$first" ]; then
    mkdir -p "$work/$copy"
    ln -s "$(cd "$first" && pwd)" "$build"
    build=$(cd "$first" && pwd)
  fi
  if ! bash "$root/scripts/package.sh" "$build" "$work/$copy/dist" >"$work/$copy.log" 2>&1; then
    # The checks below report the missing package; the log tells why.
    cat "$work/$copy.log"
  fi
done
python3 "$root/tests/package/check_package.py" "$results" "$root" \
  "${copies[@]/#/$work/}"
