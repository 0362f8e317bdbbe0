# Shared by the scripts that run Windows programs under Wine: sourced, not run.
export WINEDEBUG=${RMT_WINEDEBUG:--all}
export LC_ALL=zh_CN.UTF-8
# No Mono or Gecko installer prompts in a fresh prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""

# Whether this machine runs 32-bit x86 code: some kernels have 32-bit emulation switched off, and
# there every 32-bit program fails to start, Wine's 32-bit loader among them. RMT_FORCE_X64=1
# makes a machine that does run it take the x86-64 path anyway.
runs_32bit_code() {
  [ -z "${RMT_FORCE_X64:-}" ] && native_32bit_code
}

# Whether the processor runs 32-bit code itself. An enabled binfmt_misc entry that hands i386
# programs to qemu (the emulated pass registers one) would make any 32-bit program start, slowly:
# such entries are switched off for the moment of the look.
native_32bit_code() {
  local entry rc off=()
  for entry in /proc/sys/fs/binfmt_misc/*; do
    case "$entry" in */register | */status) continue ;; esac
    if grep -qs '^enabled' "$entry" && grep -qs 'qemu-i386' "$entry" &&
      echo 0 >"$entry" 2>/dev/null; then
      off+=("$entry")
    fi
  done
  /usr/lib/wine/wine --version >/dev/null 2>&1
  rc=$?
  for entry in "${off[@]}"; do echo 1 >"$entry" 2>/dev/null; done
  return $rc
}

# qemu_i386: prints the user-mode emulator of 32-bit x86 that the emulated pass can use, version
# 10 or later (RMT_QEMU_I386 names one of its own); fails when there is none. Older ones keep one
# table of thread-local segments for all threads of a process, which 32-bit Wine cannot live with.
qemu_i386() {
  local candidate version
  for candidate in ${RMT_QEMU_I386:-} qemu-i386 qemu-i386-static; do
    candidate=$(command -v "$candidate") || continue
    version=$("$candidate" -version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p;q')
    if [ -n "$version" ] && [ "$version" -ge 10 ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

# The build that runs the Windows programs here: build/win (32-bit, the release build) where
# 32-bit code runs, else build/win64. Prints the folder's name.
windows_build_name() {
  if runs_32bit_code; then echo win; else echo win64; fi
}

# Why windows_build_name chose its build, for the scripts' own output.
windows_build_reason() {
  if runs_32bit_code; then
    echo "the 32-bit program (build/win), the release build: this machine runs 32-bit code"
  elif [ -n "${RMT_FORCE_X64:-}" ]; then
    echo "the x86-64 build (build/win64) under wine64: RMT_FORCE_X64 is set"
  else
    echo "the x86-64 build (build/win64) under wine64: this machine runs no 32-bit code"
  fi
}

# use_wine64 DIR: `wine` and the tools that start it by name (wineboot, winepath) run the 64-bit
# loader. /usr/bin/wine tries the 32-bit loader first, which fails where 32-bit code cannot run.
use_wine64() {
  local bin="$1/wine64-bin" name
  mkdir -p "$bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/$name"
    chmod +x "$bin/$name"
  done
  export WINELOADER=/usr/lib/wine/wine64
  case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
}

# start_display [WIDTHxHEIGHT]: Xvfb with a screen of that size (1024x768 unless told). Xvfb picks
# a free display number itself (-displayfd), so runners started side by side never race for one.
start_display() {
  if [ -n "${DISPLAY:-}" ]; then return; fi
  local answer n
  answer=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${1:-1024x768}x24" -nolisten tcp 3>"$answer" >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    n=$(head -n 1 "$answer")
    if [ -n "$n" ]; then
      rm -f "$answer"
      export DISPLAY=":$n"
      return
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$answer"
  echo "Xvfb did not start" >&2
  exit 1
}

# bounded SECONDS WHAT COMMAND...: runs COMMAND (a Wine run) for at most SECONDS; a run that hangs
# is stopped and fails with a message naming WHAT, instead of holding the caller for ever.
bounded() {
  local limit=$1 what=$2 rc
  shift 2
  timeout -k 10 "$limit" "$@"
  rc=$?
  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "$what: no end within $limit s under Wine; stopped (a hang)" >&2
  fi
  return $rc
}

# prepare_prefix DIR ARCH: a prefix made once per build tree, with Chinese fonts.
prepare_prefix() {
  export WINEPREFIX="$1"
  export WINEARCH="$2"
  if [ ! -f "$WINEPREFIX/.rmt-ready-2" ]; then
    rm -rf "$WINEPREFIX"
    bounded 300 "wineboot -i ($WINEPREFIX)" wineboot -i >/dev/null 2>&1 || return 1
    local font
    for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2" SimSun SimHei "Microsoft Sans Serif" Arial; do
      bounded 60 "wine reg add" wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" \
        /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
    # Without a window manager, a managed window waits two seconds for every unmap.
    bounded 60 "wine reg add" wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ \
      /d N /f >/dev/null 2>&1
    bounded 120 "wineserver -w ($WINEPREFIX)" wineserver -w || return 1
    touch "$WINEPREFIX/.rmt-ready-2"
  fi
  # The program's update check must reach no outside address from a test or demo: web requests
  # go to a proxy on a loopback port where nothing listens, and fail at once. Loopback addresses
  # (the tests' own servers) are reached directly.
  if [ ! -f "$WINEPREFIX/.rmt-offline-1" ]; then
    local inet='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
    bounded 60 "wine reg add" wine reg add "$inet" /v ProxyEnable /t REG_DWORD /d 1 /f \
      >/dev/null 2>&1
    bounded 60 "wine reg add" wine reg add "$inet" /v ProxyServer /t REG_SZ /d 127.0.0.1:9 /f \
      >/dev/null 2>&1
    bounded 60 "wine reg add" wine reg add "$inet" /v ProxyOverride /t REG_SZ \
      /d '<local>;127.0.0.1;localhost' /f >/dev/null 2>&1
    bounded 120 "wineserver -w ($WINEPREFIX)" wineserver -w || return 1
    touch "$WINEPREFIX/.rmt-offline-1"
  fi
}

# prepare_dpi_prefix DIR DPI: a prefix like the one above whose screen has DPI dots per inch.
# Wine reads the value when its server starts, so the server is left to end once it is set.
prepare_dpi_prefix() {
  prepare_prefix "$1" win64 || return 1
  if [ ! -f "$WINEPREFIX/.rmt-dpi-$2" ]; then
    bounded 60 "wine reg add" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
      /t REG_DWORD /d "$2" /f >/dev/null 2>&1
    bounded 120 "wineserver -w ($WINEPREFIX)" wineserver -w || return 1
    touch "$WINEPREFIX/.rmt-dpi-$2"
  fi
}

stop_wine() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1
  [ -n "${WINEPREFIX:-}" ] && timeout 60 wineserver -w >/dev/null 2>&1
  return 0
}

stop_all() {
  stop_wine
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  return 0
}
