#!/usr/bin/env bash
# Runs the Windows-side unit tests and end-to-end suites under Wine on virtual displays: ctest in
# the build folder, whose tests tests/e2e/e2e_tests.cmake.in registers (one per GoogleTest suite,
# found in the program when ctest starts) and tests/e2e/wine_test.sh runs.
#   tests/e2e/run_e2e.sh BUILD_DIR [--gtest_filter=FILTER] [ctest arguments...]
# BUILD_DIR is the 32-bit build (build/win) or the x86-64 one (build/win64). With a filter, only
# the suites it names run, each narrowed to its cases (a pattern without a dot names cases of every
# suite), with the Windows unit tests beside them. RMT_E2E_SLOTS (4 unless told) is the number of
# places for tests that run side by side, besides the DPI and 32-bit ones.
# Each test's GoogleTest report is BUILD_DIR/e2e-reports/NAME.xml (ctest's own, a line per test,
# is BUILD_DIR/ctest-results.xml); after a whole run, a test that never ran (its set-up failed)
# gets one too, with its cases failed. No Wine or Xvfb process is left behind.
set -uo pipefail
build=$(cd "$1" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
slots=${RMT_E2E_SLOTS:-4}

filter=""
args=()
for arg in "$@"; do
  case "$arg" in
    --gtest_filter=*) filter=${arg#--gtest_filter=} ;;
    *) args+=("$arg") ;;
  esac
done
select=()
if [ -n "$filter" ]; then
  export RMT_E2E_FILTER=$filter
  # The suites of the filter's positive patterns, as ctest's regular expression.
  alternatives=()
  IFS=: read -ra patterns <<<"${filter%%-*}"
  [ "${#patterns[@]}" -gt 0 ] || patterns=('*')
  for p in "${patterns[@]}"; do
    [[ $p == *.* ]] && p=${p%%.*} || p='*'
    p=${p//./\\.}
    p=${p//\*/.*}
    alternatives+=("${p//\?/.}")
  done
  select=(-R "^(win\\..*|e2e\\.($(IFS='|'; echo "${alternatives[*]}"))(\\.([0-9]+of[0-9]+|[0-9]+dpi))?)\$")
fi

rm -rf "$build/e2e-reports"
# An interrupted ctest leaves its places running.
trap 'bash "$here/wine_test.sh" stop "$build" >/dev/null 2>&1' EXIT
# The places' set-ups and the DPI and 32-bit tests run beside the slots.
# ctest's own report (a test a line, with its time and output) beside the cases' reports.
(cd "$build" && ctest -j "$((slots + 3))" --output-on-failure --output-junit ctest-results.xml \
  "${select[@]}" "${args[@]}")
status=$?
if [ -z "$filter" ]; then
  pairs=()
  for cases in "$build"/e2e-cases/*.txt; do
    pairs+=("$cases" "$build/e2e-reports/$(basename "$cases" .txt).xml")
  done
  python3 "$here/complete_report.py" "did not run (its set-up failed: see above)" "${pairs[@]}" ||
    status=1
fi
exit $status
