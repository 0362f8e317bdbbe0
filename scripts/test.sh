#!/usr/bin/env bash
# Sets up, builds, runs every test and ends with one line of totals. Each step's wall time is
# printed when the step ends, and all of them again above the totals.
#
# After the set-up and the build, two lanes run side by side:
#   - the Wine lane: the Windows unit tests and the end-to-end suite (tests/e2e/run_e2e.sh: ctest
#     in the Windows build, whose tests run side by side too). It mostly waits on windows and
#     processes;
#   - the native lane, at a lower priority so that the Wine lane's timing-sensitive tests get the
#     processor when they need it: the sanitizer build and the native unit tests in it, the fuzz
#     targets (every corpus input once, then RMT_TEST_FUZZ_SECONDS of fuzzing each, 5
#     unless told; the long run is scripts/fuzz.sh) and the release package test.
# Where this machine runs no 32-bit code, the Wine lane drives the x86-64 build, and a third lane
# (tests/e2e/run_emulated.sh, lowest priority too) runs the 32-bit release program itself under
# emulation: a green run always means that the program users get was run.
# The other lanes' output is printed once the Wine lane has ended.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s%N)
times=$(mktemp)
trap 'rm -f "$times"' EXIT

seconds_since() { awk -v ns="$(($(date +%s%N) - $1))" 'BEGIN { printf "%.1f", ns / 1e9 }'; }

# step NAME COMMAND...: runs COMMAND, prints and keeps its wall time, and passes on its status.
step() {
  local name=$1 begun rc took
  shift
  begun=$(date +%s%N)
  "$@"
  rc=$?
  took=$(seconds_since "$begun")
  printf '%s\t%s\n' "$took" "$name" >>"$times"
  echo "-- $name: $took s$([ "$rc" = 0 ] || echo ", failed (exit $rc)")"
  return "$rc"
}

step "set-up" bash "$root/scripts/setup.sh" || exit 1

source "$root/scripts/wine_env.sh"
source "$root/scripts/ccache_env.sh"

status=0
win=$root/build/$(windows_build_name)
driven=$(windows_build_reason)
emulated=
# The 32-bit build is the release configuration: the package test makes its first copy there.
release=$root/build/win
if [ "$win" = "$root/build/win" ]; then
  # The x86-64 unit tests run in the Wine lane too (layouts of both widths).
  export RMT_UNIT64_DIR=$root/build/win64
else
  # The package test reads the x86-64 program's import tables too where it was built.
  export RMT_X64_PROGRAM=$win/RivermeshTools.exe
  # The x86-64 build is not what users get: the 32-bit release program runs too, emulated.
  emulated=$win/e2e-emulated-results.xml
fi
rm -f "$root"/build/native-asan/asan-results.xml \
  "$root"/build/fuzz/fuzz-results.xml "$win"/*-results.xml

sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# The sanitizer build is a configuration of its own: the fuzz build's clang stores literals as
# UTF-8 only, and the unit tests check the GBK bytes of the program's texts. Its ctest runs the
# control table's check too, so that tool is built as well. It is the only native build of the
# unit tests in the test command. -O1 with line tables: what the sanitizers' own guides advise,
# a report still names file and line, and it builds in a fraction of -O2 -g's time.
asan_build() {
  local log=$root/build/native-asan-build.log
  mkdir -p "$root/build"
  { cmake -S "$root" -B "$root/build/native-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
    -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" "${cmake_launcher[@]}" &&
    cmake --build "$root/build/native-asan" --target unit_tests control_table -j"$(nproc)"
  } >"$log" 2>&1 || { tail -n 30 "$log"; return 1; }
}
ctest_in() {  # BUILD_DIR REPORT
  (cd "$1" && ctest -j"$(nproc)" --output-on-failure --output-junit "$2" >"$2.log" 2>&1) &&
    tail -n 3 "$1/$2.log" || { cat "$1/$2.log"; return 1; }
}
fuzz_seconds=${RMT_TEST_FUZZ_SECONDS:-5}

native_lane() {
  local rc=0
  step "sanitizer build" asan_build || rc=1
  step "unit tests (Linux) with AddressSanitizer and UndefinedBehaviorSanitizer" \
    ctest_in "$root/build/native-asan" asan-results.xml || rc=1
  step "fuzz build" bash "$root/scripts/fuzz.sh" --build-only || rc=1
  step "fuzz targets: every corpus input, then $fuzz_seconds s each" \
    bash "$root/scripts/fuzz.sh" "$fuzz_seconds" --report "$root/build/fuzz/fuzz-results.xml" ||
    rc=1
  # The package's first copy is the Windows build's release program.
  until [ -s "$built" ]; do sleep 1; done
  step "release package (built twice, compared)" \
    bash "$root/tests/package/package_test.sh" "$win/package-results.xml" $release || rc=1
  return $rc
}

# The native lane starts with the Windows build: at its low priority it takes what the build
# leaves of the processors (its links and configure steps) and has them to itself after.
native_log=$(mktemp)
built=$(mktemp)
trap 'rm -f "$times" "$native_log" "$built"' EXIT
# A process group of its own, to be ended whole; the same session, where the low priority counts
# (each session's processes share the processors as one group beside the others').
set -m
nice -n 19 bash -c "$(declare -f seconds_since step asan_build ctest_in native_lane)
  $(declare -p root times win release sanitize fuzz_seconds cmake_launcher built)
  native_lane" >"$native_log" 2>&1 &
native_pid=$!
set +m
# However the command ends (an interrupt too), the lane ends with it: it would wait for the build.
trap 'kill -- -"$native_pid" 2>/dev/null; rm -f "$times" "$native_log" "$built"' EXIT

# The portable code's unit tests are built once, with the sanitizers (the native lane): a plain
# native build would run the very same tests a second time.
step "build (Windows)" env RMT_SKIP_NATIVE=1 bash "$root/scripts/build.sh" || exit 1
echo done >"$built"

emulated_log=$(mktemp)
emulated_pid=
if [ -n "$emulated" ]; then
  # At the lowest priority too: emulation takes a core for minutes, and the Wine lane's timed
  # waits come first.
  nice -n 19 bash -c "$(declare -f seconds_since step)
    $(declare -p root times win release)
    step 'the 32-bit release program (emulated where 32-bit code does not run)' \
      bash '$root/tests/e2e/run_emulated.sh' '$win' '$release'" >"$emulated_log" 2>&1 &
  emulated_pid=$!
fi
trap 'kill -- -"$native_pid" 2>/dev/null; rm -f "$times" "$native_log" "$built" "$emulated_log"' EXIT

echo "== unit tests (Windows, under Wine) and end-to-end tests: $driven"
step "Windows unit tests and end-to-end suite under Wine" bash "$root/tests/e2e/run_e2e.sh" "$win" ||
  status=1

wait "$native_pid" || status=1
echo "== native lane: unit tests (Linux, with sanitizers), fuzz targets, release package"
cat "$native_log"
if [ -n "$emulated_pid" ]; then
  wait "$emulated_pid" || status=1
  echo "== the 32-bit release program, beside the Wine lane"
  cat "$emulated_log"
fi

echo "The end-to-end suite drove $driven."
[ -z "$emulated" ] ||
  echo "The emulated pass drove the 32-bit release program (build/win/RivermeshTools.exe)."
echo "Wall time of each step (the native lane ran beside the Wine lane):"
awk -F'\t' '{ printf "  %7.1f s  %s\n", $1, $2 }' "$times"
echo "  $(printf '%7s' "$(seconds_since "$started")") s  the whole test command"
# One report per test of the Wine lane; a test that never ran has one too (tests/e2e/run_e2e.sh).
python3 "$root/scripts/test_summary.py" "$root/build/native-asan/asan-results.xml" "$root/build/fuzz/fuzz-results.xml" \
  "$win"/e2e-reports/*.xml "$win/package-results.xml" $emulated || status=1
exit $status
