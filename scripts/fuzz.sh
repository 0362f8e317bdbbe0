#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang into build/fuzz and runs each for a bounded
# time (RMT_FUZZ_SECONDS, 25 by default) from its seed corpus and what earlier runs found. A crash,
# a sanitizer report or a broken property fails the run and leaves the input in build/fuzz/artifacts.
# Writes a JUnit report, one test case per target, to the path given (build/fuzz/fuzz-results.xml).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
report=${1:-$build/fuzz-results.xml}
seconds=${RMT_FUZZ_SECONDS:-25}
targets=(launch settings console update url process)

mkdir -p "$build/artifacts"
built=1
cmake -S "$root/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER=clang++ >/dev/null &&
  cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || built=0
[ "$built" = 1 ] || { echo "fuzz: build failed, see $build/build.log"; tail -20 "$build/build.log"; }

status=0
rm -f "$build/results.txt.new"
for t in "${targets[@]}"; do
  log=$build/$t.log
  if [ "$built" = 1 ]; then
    mkdir -p "$build/corpus/$t"
    # The launch line's inputs run past the shell's cut of a script line at 8,191 characters.
    max_len=4096
    [ "$t" = launch ] && max_len=20000
    timeout $((seconds + 60)) "$build/${t}_fuzz" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -max_len=$max_len -artifact_prefix="$build/artifacts/$t-" \
      "$build/corpus/$t" "$root/tests/fuzz/corpus/$t" >"$log" 2>&1
    rc=$?
  else
    echo "not built" >"$log"
    rc=1
  fi
  # libFuzzer's last word, or on a crash its last status line.
  runs=$(grep -oE 'Done [0-9]+ runs' "$log" | grep -oE '[0-9]+' ||
    grep -oE '^#[0-9]+' "$log" | tail -1 | tr -d '#' || true)
  echo "fuzz $t: ${runs:-0} runs, exit $rc"
  if [ "$rc" != 0 ]; then
    status=1
    grep -m3 -E 'property broken|ERROR:|runtime error|what\(\)' "$log" || tail -5 "$log"
  fi
  echo "$t ${runs:-0} $rc" >>"$build/results.txt.new"
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
