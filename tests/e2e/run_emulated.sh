#!/usr/bin/env bash
# Runs the 32-bit release program on a machine that runs no 32-bit code, where the suite drives
# the x86-64 build: under user-mode emulation (qemu-i386-static through binfmt_misc), started by
# the desktop shell as a user starts it, it must show its window and its tray icon, start the
# stand-in server and leave no process behind at "退出" (tests/e2e/release_program_test.cpp).
#   tests/e2e/run_emulated.sh X64_BUILD_DIR RELEASE_BUILD_DIR
# The x86-64 suite (X64_BUILD_DIR/e2e_tests.exe) drives the program RELEASE_BUILD_DIR/
# RivermeshTools.exe. Every 32-bit process start costs about a minute of emulation, so the prefix
# is a copy of the base prefix that run_e2e.sh makes natively (waited for), never a new wineboot.
# Writes X64_BUILD_DIR/e2e-emulated-results.xml. A machine where the program cannot be run this
# way fails with one line saying why. RMT_FORCE_EMULATION=1 emulates on a machine that runs 32-bit
# code too (to try this pass there); otherwise such a machine runs the program natively.
set -uo pipefail
build=$(cd "$1" && pwd)
release=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine_env.sh"
limit=${RMT_EMULATED_TIMEOUT:-1500}
report=$build/e2e-emulated-results.xml
binfmt=/proc/sys/fs/binfmt_misc
entry=rmt-i386
registered=""
rm -f "$report"

fail() {
  echo "emulated pass: $1"
  cat >"$report" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="1" failures="1"><testsuite name="ReleaseProgram" tests="1" failures="1">
<testcase name="ShowsWindowAndIconRunsTheServerAndLeavesNothingAtExit" classname="ReleaseProgram">
<failure message="the 32-bit release program could not be run: $1"/>
</testcase></testsuite></testsuites>
XML
  exit 1
}

[ -f "$release/RivermeshTools.exe" ] || fail "no release program in $release"
if [ -n "${RMT_FORCE_EMULATION:-}" ] || ! native_32bit_code; then
  how="under emulation (qemu-i386-static)"
  # With qemu's default 32-bit processor a thread of the program died on an "illegal
  # instruction" in the SSE2 memory copy of Wine's C runtime, and Wine's debugger then held the
  # whole program; with its most capable processor that copy runs.
  export QEMU_CPU=${QEMU_CPU:-max}
  qemu=$(command -v qemu-i386-static) || fail "qemu-i386-static is missing (Debian's qemu-user-static)"
  if ! mountpoint -q "$binfmt"; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || fail "binfmt_misc cannot be mounted"
  fi
  # An entry that hands i386 ELF files to qemu already (the package's own, or ours) is kept.
  have=""
  for f in "$binfmt"/*; do
    [ -f "$f" ] && grep -q '^enabled' "$f" 2>/dev/null && grep -q 'qemu-i386' "$f" && have=$f
  done
  if [ -z "$have" ]; then
    # The ELF header of an i386 executable; F: the interpreter is opened now, so it also serves
    # processes in other mount namespaces.
    magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf ':%s:M::%s:%s:%s:F\n' "$entry" "$magic" "$mask" "$qemu" >"$binfmt/register" \
      2>/dev/null || fail "an i386 entry cannot be registered in binfmt_misc"
    registered=$binfmt/$entry
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 ||
    fail "32-bit Wine does not start even under emulation"
else
  how="natively (this machine runs 32-bit code)"
fi
trap '[ -n "$registered" ] && echo -1 >"$registered" 2>/dev/null; stop_all' EXIT
echo "emulated pass: the 32-bit release program ($release/RivermeshTools.exe), $how"

use_wine64 "$build"
# The base prefix, once run_e2e.sh has made it (it writes its id last).
for _ in $(seq 3000); do
  [ -f "$build/wineprefix/.rmt-base-id" ] && break
  sleep 0.2
done
[ -f "$build/wineprefix/.rmt-base-id" ] || fail "no base prefix in $build within 600 s"
prefix=$build/wineprefix-emulated
if ! cmp -s "$build/wineprefix/.rmt-base-id" "$prefix/.rmt-base-id"; then
  rm -rf "$prefix"
  cp -a "$build/wineprefix" "$prefix" || fail "the base prefix could not be copied"
fi
export WINEPREFIX=$prefix WINEARCH=win64
start_display
began=$(date +%s)
cd "$build" || exit 1
relative=$(realpath --relative-to="$build" "$release/RivermeshTools.exe" | tr / '\\')
RMT_RELEASE_PROGRAM=$relative bounded "$limit" "the release program $how" wine e2e_tests.exe \
  --gtest_filter='ReleaseProgram.*' --gtest_output=xml:e2e-emulated-results.xml
rc=$?
echo "emulated pass: exit $rc after $(( $(date +%s) - began )) s"
[ -f "$report" ] || fail "the suite wrote no report (exit $rc)"
exit $rc
