#!/usr/bin/env bash
# Sets up, builds both configurations, runs the unit tests (natively and under Wine) and the
# end-to-end suite, and ends with one line of totals.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" || exit 1
bash "$root/scripts/build.sh" || exit 1

source "$root/scripts/wine_env.sh"

status=0
win=$root/build/$(windows_build_name)
driven=$(windows_build_reason)
unit64=
if [ "$win" = "$root/build/win" ]; then
  export RMT_UNIT64_DIR=$root/build/win64
  unit64=$win/unit-win64-results.xml
fi
rm -f "$root"/build/native/unit-results.xml "$win"/*-results.xml
echo "== unit tests (Linux)"
(cd "$root/build/native" && ctest --output-on-failure --output-junit unit-results.xml) || status=1

# -- Sanitizers and fuzzing: the native unit tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer; then every fuzz target of tests/fuzz for a bounded time.
echo "== unit tests (Linux) with AddressSanitizer and UndefinedBehaviorSanitizer"
rm -f "$root"/build/native-asan/asan-results.xml "$root"/build/fuzz/fuzz-results.xml
sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
{ cmake -S "$root" -B "$root/build/native-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" >/dev/null &&
  cmake --build "$root/build/native-asan" --target unit_tests -j"$(nproc)" &&
  (cd "$root/build/native-asan" && ctest --output-on-failure --output-junit asan-results.xml); } ||
  status=1
echo "== fuzz targets (libFuzzer, bounded time each)"
bash "$root/scripts/fuzz.sh" "$root/build/fuzz/fuzz-results.xml" || status=1
# -- end of sanitizers and fuzzing

echo "== unit tests (Windows, under Wine) and end-to-end tests: $driven"
bash "$root/tests/e2e/run_e2e.sh" "$win" || status=1

echo "== release package (built twice, compared)"
bash "$root/tests/package/package_test.sh" "$win/package-results.xml" || status=1

echo "The end-to-end suite drove $driven."
python3 "$root/scripts/test_summary.py" "$root/build/native/unit-results.xml" \
  "$root/build/native-asan/asan-results.xml" "$root/build/fuzz/fuzz-results.xml" \
  "$win/unit-win-results.xml" $unit64 "$win/e2e-results.xml" "$win/e2e32-results.xml" \
  "$win/e2e-dpi144-results.xml" "$win/e2e-dpi192-results.xml" "$win/package-results.xml" \
  || status=1
exit $status
