#!/usr/bin/env bash
# Runs the Windows-side unit tests and end-to-end suite under Wine on virtual displays.
#   tests/e2e/run_e2e.sh BUILD_DIR [gtest arguments...]
# BUILD_DIR is the 32-bit build (build/win) or the x86-64 one (build/win64).
#
# The passes run side by side, each in a Wine prefix of its own (code page 936, Chinese font
# replacements) and on an Xvfb display of its own, so that no two share a wineserver, a tray, a
# focus or a C:\rmt-e2e folder:
#   - the main pass, split into RMT_E2E_SHARDS shards (3 unless told) by GoogleTest's own sharding
#     (GTEST_TOTAL_SHARDS, GTEST_SHARD_INDEX): a new test lands in one shard without being named.
#     The tests that start a server are among them: a start is decided by the server (its web
#     port answers), not by a fixed wait that a loaded machine can miss;
#   - the tests that start the loopback build, whose update server listens on the one fixed port
#     RMT_TEST_PORT (suites in port_suites below), one after another in a pass of their own;
#   - the Dpi suite again on screens of 144 and 192 DPI;
#   - the 32-bit Windows refusal in a 32-bit prefix;
#   - the Windows unit tests (and the x86-64 ones when RMT_UNIT64_DIR names their build).
# The prefixes are copies of the base prefix BUILD_DIR/wineprefix (made once with wineboot; the
# DLL folders are hard links, the rest real copies) except the 32-bit one, which is its own kind.
# Every Wine run is bounded (RMT_WINE_TIMEOUT seconds, 420 unless told): a hang fails its pass with
# a message. The shards' reports are merged into e2e-results.xml; a test of the main pass that no
# shard reports (a shard that crashed or hung) counts as failed there. Each pass's output is
# printed when it ends, with its wall time. No Wine or Xvfb process is left behind.
set -uo pipefail
build=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine_env.sh"

shards=${RMT_E2E_SHARDS:-3}
limit=${RMT_WINE_TIMEOUT:-420}
# Suites whose tests start RivermeshTools-loopback.exe: its update check reaches 127.0.0.1 on
# RMT_TEST_PORT, where the test's own web server must be the only listener. A new test that starts
# the loopback build belongs in one of these suites.
port_suites=(UpdateCheck HelpMenu StartBounds)

# The x86-64 build runs under the 64-bit loader, in 64-bit prefixes of its own.
bits=32
if file -b "$build/e2e_tests.exe" | grep -q 'PE32+'; then
  bits=64
  use_wine64 "$build"
fi

# The caller's filter (the last --gtest_filter wins, as in GoogleTest) and its other arguments.
user_filter=""
extra=()
for arg in "$@"; do
  case "$arg" in
    --gtest_filter=*) user_filter=${arg#--gtest_filter=} ;;
    *) extra+=("$arg") ;;
  esac
done
# with_negatives FILTER PATTERN...: FILTER with the patterns added to its negative part.
with_negatives() {
  local filter=$1 added
  shift
  added=$(IFS=:; echo "$*")
  case "$filter" in
    "") echo "*-$added" ;;
    -*) echo "*$filter:$added" ;;
    *-*) echo "$filter:$added" ;;
    *) echo "$filter-$added" ;;
  esac
}
main_filter=$(with_negatives "$user_filter" 'Platform32.*' 'ReleaseProgram.*')

logs=$build/e2e-logs
rm -rf "$logs"
mkdir -p "$logs"
cd "$build" || exit 1
rm -f e2e-results.xml e2e-shard*-results.xml e2e-port-results.xml \
  e2e-dpi*-results.xml \
  e2e32-results.xml unit-win-results.xml unit-win64-results.xml

# -- Prefixes. The base prefix is made (or kept) first; the copies follow it when it was made
# anew. Nothing runs in the base prefix while it is copied.
status=0
start_display
trap 'stop_all' EXIT
prepare_prefix "$build/wineprefix" win64 || { echo "run_e2e: no base prefix"; exit 1; }
stop_wine
[ -f wineprefix/.rmt-base-id ] || date +%s%N >wineprefix/.rmt-base-id

# clone_prefix DIR: DIR becomes a copy of the base prefix unless it is one of it already.
clone_prefix() {
  local dir=$build/$1 part
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

# -- The main pass's tests, listed once: the port pass takes those of its suites, the shards the
# rest, and the merged report must hold every one of them.
list=$logs/main-tests.txt
bounded "$limit" "listing the end-to-end tests" wine e2e_tests.exe --gtest_list_tests \
  --gtest_filter="$main_filter" "${extra[@]}" 2>/dev/null | tr -d '\r' | awk '
  /^[^ ]/ { suite = $1; next }
  /^  /   { print suite $1 }' >"$list"
stop_wine
of_suites() { grep -E "^($(IFS='|'; echo "$*"))\." "$list" | paste -sd: -; }
port_tests=$(of_suites "${port_suites[@]}")
shard_filter=$(with_negatives "$main_filter" "${port_suites[@]/%/.*}")
if [ ! -s "$list" ]; then
  echo "run_e2e: e2e_tests.exe listed no tests"
  status=1
fi

prefixes=()
for ((i = 0; i < shards; i++)); do prefixes+=("wineprefix-shard$i"); done
prefixes+=(wineprefix-port wineprefix-dpi144 wineprefix-dpi192)
for p in "${prefixes[@]}"; do
  clone_prefix "$p" || { echo "run_e2e: could not copy the base prefix to $p"; exit 1; }
done

# -- Passes. pass NAME SCREEN COMMAND...: runs COMMAND in the background on a display of its own;
# its output goes to e2e-logs/NAME.log and its exit code and wall time to NAME.rc and NAME.time.
pids=()
names=()
pass() {
  local name=$1 screen=$2
  shift 2
  (
    unset DISPLAY
    xvfb_pid=""
    trap 'stop_all' EXIT
    started=$(date +%s%N)
    start_display "$screen"
    "$@"
    rc=$?
    echo "$(( ($(date +%s%N) - started) / 1000000 ))" >"$logs/$name.time"
    echo "$rc" >"$logs/$name.rc"
    exit "$rc"
  ) >"$logs/$name.log" 2>&1 &
  pids+=($!)
  names+=("$name")
}

# ready PREFIX ARCH: this pass's prefix with its wineserver and Wine's services running, once
# every pass has got that far. Started all at once with the first tests, the passes' Wine start-ups
# would take the processor from those tests' timed waits.
ready() {
  export WINEPREFIX=$build/$1 WINEARCH=$2
  # Other paths to the test folders, for the one-copy rule: a symbolic link to C:\rmt-e2e and
  # the drive letter R: for C: (Wine names a folder by the first letter that leads to it, so C:
  # stays the one it reports).
  ln -sfn rmt-e2e "$WINEPREFIX/drive_c/rmt-e2e-link"
  ln -sfn ../drive_c "$WINEPREFIX/dosdevices/r:"
  wineserver -p
  bounded 300 "starting Wine in $1" wine cmd /c exit >/dev/null 2>&1
  # The first start of the server and of the program's shell in a prefix is the slowest: made
  # here, the first test's timed waits do not meet it. (The stand-in refuses the argument and
  # ends.)
  bounded 120 "starting the stand-in in $1" wine "$build/x64/rivermesh_windows_amd64.exe" -p 1 \
    >/dev/null 2>&1
  if [ "$bits" = 32 ] && [ "$2" = win64 ]; then
    bounded 120 "starting the 32-bit shell in $1" wine 'C:\windows\syswow64\cmd.exe' /c exit \
      >/dev/null 2>&1
  fi
  touch "$logs/$1.ready"
  local n
  for _ in $(seq 3000); do
    n=$(find "$logs" -name '*.ready' | wc -l)
    [ "$n" -ge "$passes" ] && return 0
    sleep 0.1
  done
  echo "run_e2e: not every pass got ready within 300 s; going on" >&2
}

# e2e PREFIX WHAT REPORT [arguments...]: the end-to-end tests in a copied prefix.
e2e() {
  local what=$2 report=$3
  ready "$1" win64
  shift 3
  bounded "$limit" "$what" wine e2e_tests.exe --gtest_output="xml:$report" "$@"
}

unit_pass() {
  local rc=0
  ready wineprefix win64
  # A report name, not a path: Wine would read a Unix path as C:\...
  bounded "$limit" "Windows unit tests" wine "$build/unit_tests.exe" \
    --gtest_output="xml:unit-win-results.xml" >"$logs/unit-win.out" 2>&1 || rc=1
  [ "$rc" = 0 ] && tail -n 3 "$logs/unit-win.out" || cat "$logs/unit-win.out"
  # RMT_UNIT64_DIR: an x86-64 build whose unit tests run here too (layouts of both widths).
  if [ -n "${RMT_UNIT64_DIR:-}" ]; then
    if bounded "$limit" "x86-64 Windows unit tests" wine "$RMT_UNIT64_DIR/unit_tests.exe" \
      --gtest_output="xml:unit-win64-results.xml" >"$logs/unit-win64.out" 2>&1; then
      tail -n 3 "$logs/unit-win64.out"
    else
      cat "$logs/unit-win64.out"
      rc=1
    fi
  fi
  return $rc
}

shard_pass() {
  GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$1 e2e "wineprefix-shard$1" \
    "end-to-end shard $1 of $shards" "e2e-shard$1-results.xml" --gtest_filter="$shard_filter" \
    "${extra[@]}"
}

port_pass() {
  e2e wineprefix-port "end-to-end tests on the loopback port" e2e-port-results.xml \
    --gtest_filter="$port_tests" "${extra[@]}"
}

# The window once more on screens of 144 and 192 DPI, on a display with as many more pixels as such
# a screen has (1024 x 768 at 192 DPI would be a screen smaller than Windows lets anyone scale).
dpi_pass() {
  export WINEPREFIX=$build/wineprefix-dpi$1 WINEARCH=win64
  # Wine reads the DPI when its server starts: set it, then let that server end.
  if [ ! -f "$WINEPREFIX/.rmt-dpi-$1" ]; then
    bounded 60 "setting the screen's DPI" wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
      /t REG_DWORD /d "$1" /f >/dev/null 2>&1
    bounded 120 "wineserver -w" wineserver -w
    touch "$WINEPREFIX/.rmt-dpi-$1"
  fi
  RMT_TEST_DPI=$1 e2e "wineprefix-dpi$1" "Dpi suite at $1 DPI" "e2e-dpi$1-results.xml" \
    --gtest_filter='Dpi.*'
}

# Only a 32-bit program can meet 32-bit Windows, so the x86-64 build reports the check as skipped,
# with its reason.
platform32_pass() {
  prepare_prefix "$build/wineprefix32" win32 || return 1
  ready wineprefix32 win32
  bounded "$limit" "32-bit Windows refusal" wine e2e_tests.exe --gtest_filter='Platform32.*' \
    --gtest_output=xml:e2e32-results.xml
}

passes=$((shards + 4))
[ -n "$port_tests" ] && passes=$((passes + 1))
[ "$bits" = 32 ] || passes=$((passes - 1))
rm -f "$logs"/*.ready
for ((i = 0; i < shards; i++)); do pass "shard$i" 1024x768 shard_pass "$i"; done
[ -n "$port_tests" ] && pass port 1024x768 port_pass
for dpi in 144 192; do pass "dpi$dpi" "$((1024 * dpi / 96))x$((768 * dpi / 96))" dpi_pass "$dpi"; done
if [ "$bits" = 32 ]; then
  pass platform32 1024x768 platform32_pass
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
pass unit 1024x768 unit_pass

# end_pass K: waits for pass K and prints how it went.
end_pass() {
  local k=$1 rc name
  wait "${pids[$k]}"
  rc=$?
  name=${names[$k]}
  echo "---- $name: exit $rc, $(awk '{ printf "%.1f", $1 / 1000 }' "$logs/$name.time" 2>/dev/null) s"
  cat "$logs/$name.log"
  [ "$rc" = 0 ] || status=1
}
for k in "${!pids[@]}"; do end_pass "$k"; done

reports=()
for ((i = 0; i < shards; i++)); do reports+=("e2e-shard$i-results.xml"); done
[ -n "$port_tests" ] && reports+=(e2e-port-results.xml)
python3 "$here/merge_reports.py" e2e-results.xml "$list" "${reports[@]}" || status=1
exit $status
