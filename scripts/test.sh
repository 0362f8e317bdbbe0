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

echo "== unit tests (Windows, under Wine) and end-to-end tests: $driven"
bash "$root/tests/e2e/run_e2e.sh" "$win" || status=1

echo "== release package (built twice, compared)"
bash "$root/tests/package/package_test.sh" "$win/package-results.xml" || status=1

echo "The end-to-end suite drove $driven."
python3 "$root/scripts/test_summary.py" "$root/build/native/unit-results.xml" \
  "$win/unit-win-results.xml" $unit64 "$win/e2e-results.xml" "$win/e2e32-results.xml" \
  "$win/e2e-dpi144-results.xml" "$win/e2e-dpi192-results.xml" "$win/package-results.xml" \
  || status=1
exit $status
