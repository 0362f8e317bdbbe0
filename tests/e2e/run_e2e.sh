#!/usr/bin/env bash
# Runs the Windows-side end-to-end suite under Wine on a virtual display.
#   tests/e2e/run_e2e.sh BUILD_DIR [gtest arguments...]
# Uses its own Wine prefixes inside BUILD_DIR (code page 936, Chinese font replacements),
# starts Xvfb on a free display unless DISPLAY is set, and leaves no Wine or Xvfb process behind.
set -uo pipefail
build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine_env.sh"

start_display
trap 'stop_all' EXIT

prepare_prefix "$build/wineprefix" win64
cd "$build"
status=0
wine unit_tests.exe --gtest_output=xml:unit-win-results.xml >"$build/unit-win.log" 2>&1 \
  || { status=$?; cat "$build/unit-win.log"; }
tail -n 3 "$build/unit-win.log"
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

# The 32-bit Windows refusal is checked in a prefix of its own kind.
prepare_prefix "$build/wineprefix32" win32
wine e2e_tests.exe --gtest_filter='Platform32.*' --gtest_output=xml:e2e32-results.xml \
  || status=$?
stop_wine
exit $status
