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
# A headless run makes pictures: the log tab shows this run's server only.
[ "$headless" = 1 ] && rm -rf "$demo/logs"
# Wine's desktop shell (explorer.exe, on a desktop of its own) starts the program, as a double
# click would, so the program shows its window.
wine explorer.exe /desktop="Rivermesh,$screen" RivermeshTools.exe >/dev/null 2>&1 &

# A process of this prefix whose own program (the first word of its command line) matches.
prefix_runs() {
  local p
  for p in /proc/[0-9]*; do
    tr '\0' '\n' 2>/dev/null <"$p/cmdline" | head -n 1 | grep -qiE "$1" || continue
    tr '\0' '\n' 2>/dev/null <"$p/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}
# What the program looks like a few seconds on: still running, and no crash box of the system's
# (Wine's debugger shows it) on the screen. Either fault ends the command with a failure.
checked_start() {
  sleep 6
  if prefix_runs 'winedbg(\.exe)?$'; then
    echo "run: a crash box stands on the screen: the program crashed" >&2
    return 1
  fi
  if ! prefix_runs 'RivermeshTools\.exe$'; then
    echo "run: the program ended by itself before the screenshot" >&2
    return 1
  fi
}

# The picture of both tabs (build/demo/window-tabs.png, the README's docs/images/window.png): the
# settings tab as the program starts, then 启动 clicked and the log tab shown, side by side. The
# window opens in the middle of the screen; the clicks go to its 启动 button and its log tab,
# placed from the middle at 96 DPI. The mouse moves as a user's does, so only an enabled button
# takes the click.
both_tabs() {
  local log_shot="$demo/screenshot-log.png" w h
  w=${screen%x*}
  h=${screen#*x}
  xdotool mousemove $((w / 2 - 82)) $((h / 2 + 124)) click 1
  for _ in $(seq 100); do
    grep -qs 'http://' "$demo/logs/server.log" && break
    sleep 0.1
  done
  xdotool mousemove $((w / 2 - 107)) $((h / 2 - 148)) click 1 mousemove 0 0
  # The running look follows the port's answer, a moment after the start line.
  sleep 1
  import -window root "$log_shot"
  if cmp -s <(convert "$shot" rgb:-) <(convert "$log_shot" rgb:-); then
    echo "run: the log tab did not show; no picture of both tabs" >&2
    return
  fi
  # The window alone: the screen without its taskbar, trimmed to what is not desktop.
  convert \( "$shot" -crop "${w}x$((h - 28))+0+0" +repage -trim +repage \) \
    \( "$log_shot" -crop "${w}x$((h - 28))+0+0" +repage -trim +repage \
    -background white -splice 16x0 \) +append "$demo/window-tabs.png"
  echo "both tabs: $demo/window-tabs.png"
}

if [ "$headless" = 1 ]; then
  trap 'stop_all' EXIT
  checked_start
  started=$?
  shot="$root/build/demo/screenshot.png"
  [ "$dpi" = 96 ] || shot="$root/build/demo/screenshot-dpi$dpi.png"
  import -window root "$shot"
  echo "screenshot: $shot"
  [ "$started" = 0 ] && [ "$dpi" = 96 ] && both_tabs
  exit $started
else
  checked_start || exit 1
  echo "Rivermesh Tools runs in $demo (WINEPREFIX=$WINEPREFIX); end it with its tray menu's 退出."
  wait
fi
