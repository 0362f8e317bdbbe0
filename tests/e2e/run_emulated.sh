#!/usr/bin/env bash
# Runs the 32-bit release program on a machine that runs no 32-bit code, where the suite drives
# the x86-64 build: under user-mode emulation (qemu 10 or later through binfmt_misc), started by
# the desktop shell as a user starts it, it must show its window and its tray icon, start the
# stand-in server and leave no process behind at "退出" (tests/e2e/release_program_test.cpp).
#   tests/e2e/run_emulated.sh X64_BUILD_DIR RELEASE_BUILD_DIR
# The x86-64 suite (X64_BUILD_DIR/e2e_tests.exe) drives the program RELEASE_BUILD_DIR/
# RivermeshTools.exe. Emulation is slow (a new prefix's wineboot would take minutes), so the prefix
# is a copy of the base prefix that tests/e2e/wine_test.sh makes natively (waited for), never a new wineboot.
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
# register_i386: hands i386 ELF files to qemu in the binfmt_misc instance mounted here. F: the
# interpreter is opened now, so it also serves processes in other mount namespaces.
register_i386() {
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf ':%s:M::%s:%s:%s:F\n' "$entry" "$magic" "$mask" "$qemu" >"$binfmt/register" 2>/dev/null
}
if [ -n "${RMT_FORCE_EMULATION:-}" ] || ! native_32bit_code; then
  # With qemu's default 32-bit processor a thread of the program died on an "illegal
  # instruction" in the SSE2 memory copy of Wine's C runtime, and Wine's debugger then held the
  # whole program; with its most capable processor that copy runs.
  export QEMU_CPU=${QEMU_CPU:-max}
  qemu=$(qemu_i386) || fail "no qemu-i386 of version 10 or later (scripts/setup.sh installs one)"
  how="under emulation ($("$qemu" -version | head -n 1))"
  if [ -z "${RMT_EMULATED_PRIVATE:-}" ] &&
    unshare --user --map-root-user --mount --pid --fork --mount-proc true 2>/dev/null; then
    # The pass runs in a user namespace of its own with a binfmt_misc instance of its own (Linux
    # 6.7 and later): its entry sends only this pass's 32-bit processes to qemu, not those of
    # another runner on a machine that runs 32-bit code, and it goes with the pass however the
    # pass ends, a kill included.
    # In a process namespace of its own too: when the pass ends, whatever it started ends with it.
    RMT_EMULATED_PRIVATE=1 unshare --user --map-root-user --mount --pid --fork --mount-proc \
      bash -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null &&
        exec bash "$0" "$@"; exit 97' "$0" "$build" "$release"
    rc=$?
    # 97: this kernel has no binfmt_misc of a namespace's own; the machine's instance it is.
    [ "$rc" = 97 ] || exit "$rc"
  fi
  if [ -n "${RMT_EMULATED_PRIVATE:-}" ]; then
    register_i386 || fail "an i386 entry cannot be registered in the pass's own binfmt_misc"
  else
    if ! mountpoint -q "$binfmt"; then
      mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || fail "binfmt_misc cannot be mounted"
    fi
    # An entry that hands i386 ELF files to qemu already (the package's own, or ours) is kept.
    have=""
    for f in "$binfmt"/*; do
      [ -f "$f" ] && grep -q '^enabled' "$f" 2>/dev/null && grep -q 'qemu-i386' "$f" && have=$f
    done
    if [ -z "$have" ]; then
      register_i386 || fail "an i386 entry cannot be registered in binfmt_misc"
      registered=$binfmt/$entry
    fi
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1 ||
    fail "32-bit Wine does not start even under emulation"
else
  how="natively (this machine runs 32-bit code)"
fi
trap '[ -n "$registered" ] && echo -1 >"$registered" 2>/dev/null; stop_all' EXIT
trap 'exit 143' TERM INT HUP
echo "emulated pass: the 32-bit release program ($release/RivermeshTools.exe), $how"

use_wine64 "$build"
# The base prefix, once wine_test.sh has made it (it writes its id last).
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
