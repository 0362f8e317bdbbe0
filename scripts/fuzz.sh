#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build/fuzz and runs each one: first
# every input of its corpora once (the seeds in tests/fuzz/corpus/ and what earlier runs found in
# build/fuzz/corpus/: the regression inputs), then fuzzing for SECONDS from there.
#   scripts/fuzz.sh [SECONDS] [--report FILE] [--build-only]
# SECONDS is 25 unless given (RMT_FUZZ_SECONDS too); as many targets run at a time as there are
# processors, so all six take about 1.5 minutes on two; 0 replays the corpora only. A crash, a sanitizer report or a broken property fails the run and
# leaves the input in build/fuzz/artifacts. --report writes a JUnit report, one test case per
# target (build/fuzz/fuzz-results.xml unless told); --build-only builds and runs nothing.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
report=$build/fuzz-results.xml
seconds=${RMT_FUZZ_SECONDS:-25}
build_only=0
while [ $# -gt 0 ]; do
  case "$1" in
    --report) report=$2; shift 2 ;;
    --build-only) build_only=1; shift ;;
    *[!0-9]* | "") echo "fuzz: unknown argument $1" >&2; exit 2 ;;
    *) seconds=$1; shift ;;
  esac
done
targets=(launch settings console update url process)
source "$root/scripts/ccache_env.sh"

mkdir -p "$build/artifacts"
built=1
cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ "${cmake_launcher[@]}" \
  >/dev/null && cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || built=0
[ "$built" = 1 ] || { echo "fuzz: build failed, see $build/build.log"; tail -20 "$build/build.log"; }
if [ "$build_only" = 1 ]; then
  [ "$built" = 1 ]
  exit
fi

# One target: its corpora, then its fuzzing; the result goes to its own files, so that targets can
# run side by side (each fuzzes on one core, for a time of its own, not a number of runs).
fuzz_target() {
  local t=$1 log=$build/$1.log rc runs max_len common
  if [ "$built" = 1 ]; then
    mkdir -p "$build/corpus/$t"
    # The launch line's inputs run past the shell's cut of a script line at 8,191 characters.
    max_len=4096
    [ "$t" = launch ] && max_len=20000
    common=(-timeout=10 -rss_limit_mb=2048 -max_len=$max_len -artifact_prefix="$build/artifacts/$t-")
    # The corpora once, whatever the time: an input that found a fault once keeps being checked.
    timeout 600 "$build/${t}_fuzz" "${common[@]}" -runs=0 "$build/corpus/$t" \
      "$root/tests/fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
    if [ "$rc" = 0 ] && [ "$seconds" -gt 0 ]; then
      timeout $((seconds + 60)) "$build/${t}_fuzz" "${common[@]}" -max_total_time="$seconds" \
        "$build/corpus/$t" "$root/tests/fuzz/corpus/$t" >>"$log" 2>&1
      rc=$?
    fi
  else
    echo "not built" >"$log"
    rc=1
  fi
  # libFuzzer's last word, or on a crash its last status line.
  runs=$(grep -oE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' | awk '{ n += $1 } END { print n }')
  [ -n "$runs" ] || runs=$(grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#')
  {
    echo "fuzz $t: ${runs:-0} runs, exit $rc"
    if [ "$rc" != 0 ]; then
      grep -m3 -E 'property broken|ERROR:|runtime error|what\(\)' "$log" || tail -5 "$log"
    fi
  } >"$build/$t.summary"
  echo "$t ${runs:-0} $rc" >"$build/$t.result"
}

# As many targets at a time as there are processors.
for t in "${targets[@]}"; do
  rm -f "$build/$t.result" "$build/$t.summary"
  fuzz_target "$t" &
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n; done
done
wait

status=0
rm -f "$build/results.txt.new"
for t in "${targets[@]}"; do
  cat "$build/$t.summary" 2>/dev/null || echo "fuzz $t: no result"
  if [ -f "$build/$t.result" ]; then
    cat "$build/$t.result" >>"$build/results.txt.new"
    [ "$(cut -d' ' -f3 "$build/$t.result")" = 0 ] || status=1
  else
    echo "$t 0 1" >>"$build/results.txt.new"
    status=1
  fi
done
mv "$build/results.txt.new" "$build/results.txt"

python3 - "$build" "$report" <<'PY'
import sys
from xml.sax.saxutils import escape, quoteattr
build, report = sys.argv[1], sys.argv[2]
cases = []
for line in open(f"{build}/results.txt"):
    name, runs, rc = line.split()
    body = f"<system-out>{runs} executions</system-out>"
    if rc != "0":
        with open(f"{build}/{name}.log", errors="replace") as log:
            tail = "".join(log.readlines()[-30:])
        body += f"<failure message={quoteattr('exit ' + rc)}>{escape(tail)}</failure>"
    cases.append(f'<testcase classname="fuzz" name="{name}">{body}</testcase>')
failures = sum("<failure" in c for c in cases)
with open(report, "w") as out:
    out.write(f'<?xml version="1.0"?>\n<testsuite name="fuzz" tests="{len(cases)}" '
              f'failures="{failures}">\n' + "\n".join(cases) + "\n</testsuite>\n")
PY
exit $status
