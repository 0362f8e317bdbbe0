#!/usr/bin/env bash
# Sets up, builds, and starts the program under Wine in a demo program folder (build/demo) with
# the stand-in server beside it. The program is started by the Wine desktop shell, so it shows
# its window. Without a display it starts Xvfb, writes a screenshot and prints its path.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/setup.sh" || exit 1
bash "$root/scripts/build.sh" >/dev/null || exit 1
source "$root/scripts/wine_env.sh"

headless=0
[ -z "${DISPLAY:-}" ] && headless=1
start_display
prepare_prefix "$root/build/win/wineprefix" win64

demo="$root/build/demo"
mkdir -p "$demo"
cp "$root/build/win/RivermeshTools.exe" "$root/build/win/rivermesh_windows_amd64.exe" "$demo/"
cd "$demo"
# Wine's desktop shell (explorer.exe, on a desktop of its own) starts the program, as a double
# click would, so the program shows its window.
wine explorer.exe /desktop=Rivermesh,1024x768 RivermeshTools.exe >/dev/null 2>&1 &

if [ "$headless" = 1 ]; then
  trap 'stop_all' EXIT
  sleep 6
  shot="$root/build/demo/screenshot.png"
  import -window root "$shot"
  echo "screenshot: $shot"
else
  echo "Rivermesh Tools runs in $demo (WINEPREFIX=$WINEPREFIX); end it with its tray menu's 退出."
  wait
fi
