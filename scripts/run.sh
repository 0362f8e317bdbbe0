#!/usr/bin/env bash
# Sets up, builds, and starts the program under Wine in a demo program folder (build/demo) with
# the stand-in server beside it. The program is started by the Wine desktop shell, so it shows
# its window. Without a display it starts Xvfb, writes a screenshot and prints its path.
# RMT_DPI=144 (or another DPI) shows it on a screen of that DPI, with a prefix of its own.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" || exit 1
bash "$root/scripts/build.sh" >/dev/null || exit 1
source "$root/scripts/wine_env.sh"

dpi=${RMT_DPI:-96}
if ! [[ "$dpi" =~ ^[0-9]+$ ]] || [ "$dpi" -lt 48 ] || [ "$dpi" -gt 480 ]; then
  echo "RMT_DPI must be a DPI from 48 to 480" >&2
  exit 1
fi
# A screen of higher DPI has more pixels: 1024 x 768 at 96 DPI, scaled.
screen="$((1024 * dpi / 96))x$((768 * dpi / 96))"
headless=0
[ -z "${DISPLAY:-}" ] && headless=1
start_display "$screen"
# The 32-bit program where this machine runs 32-bit code, else the x86-64 build under wine64.
win="$root/build/$(windows_build_name)"
[ "$win" = "$root/build/win64" ] && use_wine64 "$win"
echo "showing $(windows_build_reason)"
if [ "$dpi" = 96 ]; then
  prepare_prefix "$win/wineprefix" win64
else
  prepare_dpi_prefix "$win/wineprefix-dpi$dpi" "$dpi"
fi

demo="$root/build/demo"
mkdir -p "$demo"
# The stand-in as the real server ships: a 64-bit program.
cp "$win/RivermeshTools.exe" "$win/x64/rivermesh_windows_amd64.exe" "$demo/"
cd "$demo"
# Wine's desktop shell (explorer.exe, on a desktop of its own) starts the program, as a double
# click would, so the program shows its window.
wine explorer.exe /desktop="Rivermesh,$screen" RivermeshTools.exe >/dev/null 2>&1 &

if [ "$headless" = 1 ]; then
  trap 'stop_all' EXIT
  sleep 6
  shot="$root/build/demo/screenshot.png"
  [ "$dpi" = 96 ] || shot="$root/build/demo/screenshot-dpi$dpi.png"
  import -window root "$shot"
  echo "screenshot: $shot"
else
  echo "Rivermesh Tools runs in $demo (WINEPREFIX=$WINEPREFIX); end it with its tray menu's 退出."
  wait
fi
