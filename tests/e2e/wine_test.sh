#!/usr/bin/env bash
# The Windows side's tests under Wine, one ctest test at a time (tests/e2e/e2e_tests.cmake.in
# registers them):
#   wine_test.sh list BUILD_DIR OUT      every case of e2e_tests.exe, Suite.Case a line, to OUT
#   wine_test.sh prefix BUILD_DIR        the base prefix BUILD_DIR/wineprefix
#   wine_test.sh place BUILD_DIR PLACE   a place to run tests in: a prefix, a display, a server
#   wine_test.sh run BUILD_DIR PLACE NAME CASES PROGRAM [arguments...]
#   wine_test.sh stop BUILD_DIR          ends every place's wineserver and display
#
# A place is a Wine prefix (code page 936, Chinese font replacements) with its own Xvfb display
# and its own wineserver, so that no two tests running at once share a server, a tray, a focus or
# a C:\rmt-e2e folder: slot0... (as many as ctest's resource "slots" has), dpi144 and dpi192
# (screens of that DPI), p32 (a 32-bit prefix, for the 32-bit build's refusal of 32-bit Windows).
# The prefixes are copies of the base prefix (made once with wineboot; the DLL folders are hard
# links, the rest real copies) except p32, which is its own kind. PLACE "slot" in `run` is the slot
# ctest gave the test (CTEST_RESOURCE_GROUP_0_SLOTS).
#
# `run` starts PROGRAM (a Windows test program) in the place with a GoogleTest report
# BUILD_DIR/e2e-reports/NAME.xml. Every Wine run is bounded (RMT_WINE_TIMEOUT seconds, 420 unless
# told): a hang fails with a message. When the program leaves no readable report (it crashed or
# hung), the report is written with every case named in the file CASES as failed.
# RMT_E2E_FILTER, a GoogleTest filter, narrows each suite's run to the cases it names.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine_env.sh"
what=$1
build=$(cd "$2" && pwd)
shift 2
limit=${RMT_WINE_TIMEOUT:-420}
places=$build/wine-places
mkdir -p "$places" "$build/e2e-reports" "$build/e2e-logs"
cd "$build" || exit 1

# The x86-64 build runs under the 64-bit loader, in 64-bit prefixes of its own.
bits=32
if file -b "$build/e2e_tests.exe" | grep -q 'PE32+'; then
  bits=64
  use_wine64 "$build"
fi

fail() {
  echo "wine_test: $1" >&2
  exit 1
}

# prefix_of PLACE: the place's prefix folder.
prefix_of() {
  case "$1" in
    p32) echo "$build/wineprefix32" ;;
    *) echo "$build/wineprefix-$1" ;;
  esac
}

base_prefix() {
  prepare_prefix "$build/wineprefix" win64 || fail "no base prefix"
  stop_wine
  # Last: tests/e2e/run_emulated.sh copies the base prefix once this is there.
  [ -f wineprefix/.rmt-base-id ] || date +%s%N >wineprefix/.rmt-base-id
}

# clone_prefix DIR: DIR becomes a copy of the base prefix unless it is one of it already.
clone_prefix() {
  local dir=$1 part
  if cmp -s "$build/wineprefix/.rmt-base-id" "$dir/.rmt-base-id"; then return 0; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  # The DLL folders are large and never written by a test: hard links. Everything a test or Wine
  # writes (registry files, users, C:\rmt-e2e) is copied, so that no two prefixes share a file.
  (cd "$build/wineprefix" && find . -mindepth 1 -maxdepth 1 ! -name drive_c ! -name wineserver \
    ! -name .rmt-base-id -exec cp -a {} "$dir/" \;) || return 1
  mkdir -p "$dir/drive_c"
  for part in "$build"/wineprefix/drive_c/* "$build"/wineprefix/drive_c/.[!.]*; do
    [ -e "$part" ] || continue
    if [ "$(basename "$part")" = windows ]; then
      mkdir -p "$dir/drive_c/windows"
      (cd "$part" && find . -mindepth 1 -maxdepth 1 -exec sh -c '
        for f; do
          case "$f" in
            ./system32|./syswow64|./winsxs) cp -al "$f" "$0/" ;;
            *) cp -a "$f" "$0/" ;;
          esac
        done' "$dir/drive_c/windows" {} +) || return 1
    else
      cp -a "$part" "$dir/drive_c/" || return 1
    fi
  done
  # Last: only a whole copy counts as one.
  cp "$build/wineprefix/.rmt-base-id" "$dir/"
}

# end_place PLACE: the place's wineserver and display, if they still run.
end_place() {
  local pid
  WINEPREFIX=$(prefix_of "$1") stop_wine
  pid=$(cat "$places/$1.xvfb" 2>/dev/null)
  # Only an Xvfb of this place: the id may have passed to another process since.
  if [ -n "$pid" ] && grep -qs Xvfb "/proc/$pid/cmdline" &&
    grep -qs "$places/$1.display" "/proc/$pid/environ"; then
    kill "$pid" 2>/dev/null
  fi
  rm -f "$places/$1.xvfb" "$places/$1.display"
}

# place PLACE: the place made ready; its display and wineserver stay for the tests after this.
place() {
  local name=$1 dpi="" prefix arch=win64 screen=1024x768 answer n wine_log
  prefix=$(prefix_of "$name")
  end_place "$name"
  case "$name" in
    p32) prepare_prefix "$prefix" win32 || fail "no 32-bit prefix"; arch=win32 ;;
    dpi*) dpi=${name#dpi} ;&
    *) clone_prefix "$prefix" || fail "could not copy the base prefix to $prefix" ;;
  esac
  export WINEPREFIX=$prefix WINEARCH=$arch
  # Wine reads the DPI when its server starts: set it, then let that server end.
  if [ -n "$dpi" ] && [ ! -f "$prefix/.rmt-dpi-$dpi" ]; then
    bounded 60 "setting the screen's DPI" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
      /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    bounded 120 "wineserver -w" wineserver -w
    touch "$prefix/.rmt-dpi-$dpi"
  fi
  # A screen of as many more pixels as such a screen has (1024 x 768 at 192 DPI would be a screen
  # smaller than Windows lets anyone scale).
  [ -z "$dpi" ] || screen=$((1024 * dpi / 96))x$((768 * dpi / 96))
  # Its own session: the display outlives this set-up, and nothing ends it with the set-up's
  # process group. Xvfb picks a free display number itself (-displayfd).
  answer=$places/$name.display
  rm -f "$answer"
  RMT_PLACE=$answer setsid Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp \
    3>"$answer" </dev/null >/dev/null 2>&1 &
  echo $! >"$places/$name.xvfb"
  for _ in $(seq 100); do
    n=$(head -n 1 "$answer" 2>/dev/null)
    [ -n "$n" ] && break
    kill -0 "$(cat "$places/$name.xvfb")" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$n" ] || fail "Xvfb did not start for $name"
  export DISPLAY=":$n"
  # Other paths to the test folders, for the one-copy rule: a symbolic link to C:\rmt-e2e and
  # the drive letter R: for C: (Wine names a folder by the first letter that leads to it, so C:
  # stays the one it reports).
  ln -sfn rmt-e2e "$prefix/drive_c/rmt-e2e-link"
  ln -sfn ../drive_c "$prefix/dosdevices/r:"
  # What the place's own processes say (the desktop shell and Wine's services inherit it from the
  # first of them), and which test ran when: a failed test shows its end (`run`).
  wine_log=$places/$name.wine.log
  echo "== $name made ready $(date +%T)" >"$wine_log"
  setsid wineserver -p </dev/null >>"$wine_log" 2>&1
  # The desktop outlives every test program, as a user's shell does (the anchor waits for its
  # wineserver's end).
  setsid wine "$build/desktop_anchor.exe" </dev/null >>"$wine_log" 2>&1 &
  bounded 300 "starting Wine in $name" wine cmd /c exit </dev/null >>"$wine_log" 2>&1 ||
    fail "Wine did not start in $name"
  # The first start of the server and of the program's shell in a prefix is the slowest: made
  # here, the first test's timed waits do not meet it. (The stand-in refuses the argument and
  # ends.)
  bounded 120 "starting the stand-in in $name" wine "$build/x64/rivermesh_windows_amd64.exe" -p 1 \
    </dev/null >/dev/null 2>&1
  if [ "$bits" = 32 ] && [ "$arch" = win64 ]; then
    bounded 120 "starting the 32-bit shell in $name" wine 'C:\windows\syswow64\cmd.exe' /c exit \
      </dev/null >/dev/null 2>&1
  fi
  echo "wine_test: $name ready ($prefix, display $DISPLAY, $screen)"
}

# narrowed SUITE: RMT_E2E_FILTER's patterns for SUITE's cases, as one filter; nothing when none.
narrowed() {
  local suite=$1 positive negative="" p kept=()
  positive=${RMT_E2E_FILTER%%-*}
  [[ $RMT_E2E_FILTER == *-* ]] && negative=${RMT_E2E_FILTER#*-}
  [ -n "$positive" ] || positive='*'
  IFS=: read -ra patterns <<<"$positive"
  for p in "${patterns[@]}"; do
    # A pattern without a dot names cases of every suite.
    if [[ $p != *.* ]]; then
      kept+=("$suite.$p")
    elif [[ $suite == ${p%%.*} ]]; then
      kept+=("$suite.${p#*.}")
    fi
  done
  [ "${#kept[@]}" -gt 0 ] || return 0
  echo "$(IFS=:; echo "${kept[*]}")${negative:+-$negative}"
}

run() {
  local at=$1 name=$2 cases=$3 id arg rc args=()
  shift 3
  if [ "$at" = slot ]; then
    # ctest's allocation: "id:K,slots:1".
    id=${CTEST_RESOURCE_GROUP_0_SLOTS:-}
    [ -n "$id" ] || fail "no slot given: run the tests through ctest in $build"
    id=${id#id:}
    at=slot${id%%,*}
  fi
  [ -s "$places/$at.display" ] || fail "$at is not set up (its ctest test wine.place.$at)"
  export WINEPREFIX WINEARCH=win64 DISPLAY
  WINEPREFIX=$(prefix_of "$at")
  DISPLAY=:$(head -n 1 "$places/$at.display")
  [ "$at" = p32 ] && WINEARCH=win32
  for arg in "$@"; do
    if [ -n "${RMT_E2E_FILTER:-}" ] && [[ $arg == --gtest_filter=*.\* ]]; then
      arg=${arg#--gtest_filter=}
      arg=$(narrowed "${arg%.\*}")
      [ -n "$arg" ] || { echo "wine_test: the filter names no case of $name"; exit 0; }
      arg=--gtest_filter=$arg
    fi
    args+=("$arg")
  done
  local report=e2e-reports/${name//\//_}.xml log=e2e-logs/${name//\//_}.log
  rm -f "$report"
  echo "wine_test: $name in $at ($WINEPREFIX, display $DISPLAY)"
  echo "== $name started $(date +%T)" >>"$places/$at.wine.log"
  # A report name relative to the build folder: Wine would read a Unix path as C:\...
  bounded "$limit" "$name" wine "${args[@]}" --gtest_output="xml:$report" </dev/null >"$log" 2>&1
  rc=$?
  echo "== $name ended $(date +%T), exit $rc" >>"$places/$at.wine.log"
  cat "$log"
  if [ "$rc" != 0 ]; then
    echo "wine_test: the end of $at's own output and tests ($places/$at.wine.log):"
    tail -n 40 "$places/$at.wine.log"
  fi
  python3 "$here/complete_report.py" \
    "$name left no report (exit $rc: it crashed or hung; see its output)" "$cases" "$report" ||
    rc=1
  return $rc
}

stop() {
  local f name ended=()
  for f in "$places"/*.xvfb "$places"/*.display; do
    [ -e "$f" ] || continue
    name=$(basename "$f")
    name=${name%.*}
    [[ " ${ended[*]} " == *" $name "* ]] && continue
    ended+=("$name")
    end_place "$name" &
  done
  WINEPREFIX=$build/wineprefix stop_wine
  wait
}

case "$what" in
  list)
    start_display
    trap 'stop_all' EXIT
    base_prefix
    export WINEPREFIX=$build/wineprefix WINEARCH=win64
    bounded "$limit" "listing the end-to-end tests" wine e2e_tests.exe --gtest_list_tests \
      </dev/null 2>/dev/null | tr -d '\r' | awk '
      /^[^ ]/ { suite = $1; next }
      /^  /   { print suite $1 }' >"$1.new"
    [ -s "$1.new" ] || fail "e2e_tests.exe listed no tests"
    mv "$1.new" "$1"
    ;;
  prefix)
    start_display
    trap 'stop_all' EXIT
    base_prefix
    ;;
  place)
    # A session of its own (setsid -w waits for it): the display and the wineserver outlive the
    # set-up, which ctest may end with its process group.
    if [ -z "${RMT_PLACE_SESSION:-}" ]; then
      RMT_PLACE_SESSION=1 exec setsid -w "$here/wine_test.sh" place "$build" "$@"
    fi
    place "$1"
    ;;
  run) run "$@" ;;
  stop) stop ;;
  *) fail "unknown step $what" ;;
esac
