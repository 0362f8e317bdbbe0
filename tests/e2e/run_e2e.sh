#!/usr/bin/env bash
# Runs the Windows-side unit tests and end-to-end suite under Wine on a virtual display.
#   tests/e2e/run_e2e.sh BUILD_DIR [gtest arguments...]
# BUILD_DIR is the 32-bit build (build/win) or the x86-64 one (build/win64).
# Uses its own Wine prefixes inside BUILD_DIR (code page 936, Chinese font replacements),
# starts Xvfb on a free display unless DISPLAY is set, and leaves no Wine or Xvfb process behind.
set -uo pipefail
build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine_env.sh"

# The x86-64 build runs under the 64-bit loader, in 64-bit prefixes of its own.
bits=32
if file -b "$build/e2e_tests.exe" | grep -q 'PE32+'; then
  bits=64
  use_wine64 "$build"
fi

start_display
trap 'stop_all' EXIT

prepare_prefix "$build/wineprefix" win64
cd "$build"
status=0
# unit_tests_in DIR NAME: the Windows unit tests of the build in DIR, in this prefix; the report
# is NAME-results.xml in this build folder (a name: Wine would read a Unix path as C:\...).
unit_tests_in() {
  wine "$1/unit_tests.exe" --gtest_output="xml:$2-results.xml" >"$2.log" 2>&1 \
    || { status=1; cat "$2.log"; }
  tail -n 3 "$2.log"
}
unit_tests_in "$build" unit-win
# RMT_UNIT64_DIR: an x86-64 build whose unit tests run here too (layouts of both widths).
if [ -n "${RMT_UNIT64_DIR:-}" ]; then
  unit_tests_in "$RMT_UNIT64_DIR" unit-win64
fi
wine e2e_tests.exe --gtest_filter='-Platform32.*' --gtest_output=xml:e2e-results.xml "$@" \
  || status=$?
stop_wine

# The window once more on screens of 144 and 192 DPI, each in a prefix of its own and on a
# display with as many more pixels as such a screen has (1024 x 768 at 192 DPI would be a
# screen smaller than Windows lets anyone scale that far).
for dpi in 144 192; do
  (
    unset DISPLAY
    xvfb_pid=""
    trap 'stop_all' EXIT
    start_display "$((1024 * dpi / 96))x$((768 * dpi / 96))"
    prepare_dpi_prefix "$build/wineprefix-dpi$dpi" "$dpi"
    RMT_TEST_DPI=$dpi wine e2e_tests.exe --gtest_filter='Dpi.*' \
      --gtest_output="xml:e2e-dpi$dpi-results.xml"
  ) || status=$?
done

# The 32-bit Windows refusal is checked in a prefix of its own kind; only a 32-bit program can
# meet 32-bit Windows, so the x86-64 build reports the check as skipped, with its reason.
if [ "$bits" = 32 ]; then
  prepare_prefix "$build/wineprefix32" win32
  wine e2e_tests.exe --gtest_filter='Platform32.*' --gtest_output=xml:e2e32-results.xml \
    || status=$?
  stop_wine
else
  cat >e2e32-results.xml <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="1"><testsuite name="Platform32" tests="1" skipped="1">
<testcase name="RefusesWithItsMessageAndEnds" classname="Platform32">
<skipped message="a 64-bit program never starts on 32-bit Windows: only the 32-bit build can make this check"/>
</testcase></testsuite></testsuites>
XML
  echo "Platform32.RefusesWithItsMessageAndEnds: skipped (only the 32-bit build meets 32-bit Windows)"
fi
exit $status
