#!/usr/bin/env bash
# Runs each libFuzzer harness for a short while on a scratch copy of its
# seed corpus and prints the executions each made, FUZZ_JOBS harnesses at a
# time (default 2). Fails when a harness crashes or breaks a property; its
# input is kept under BINDIR/artifacts.
# usage: smoke.sh SECONDS BINDIR CORPUSDIR HARNESS...
set -euo pipefail
seconds=$1 bindir=$2 corpus=$3
shift 3
jobs=${FUZZ_JOBS:-2}
mkdir -p "$bindir/work" "$bindir/artifacts" "$bindir/logs"
start=$(date +%s)

# -timeout is a guard against a hang in one input, which takes microseconds.
run_one() {
  local h=$1
  mkdir -p "$bindir/work/$h"
  "$bindir/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$bindir/artifacts/$h-" \
    "$bindir/work/$h" "$corpus/$h" >"$bindir/logs/$h.log" 2>&1
}

declare -A pid_of
failed=()
for h in "$@"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "== fuzz_$h for ${seconds}s"
  run_one "$h" &
  pid_of[$h]=$!
done
for h in "$@"; do
  wait "${pid_of[$h]}" || failed+=("$h")
done

for h in "${failed[@]}"; do
  tail -n 60 "$bindir/logs/$h.log"
  echo "fuzz_$h FAILED (log: $bindir/logs/$h.log, inputs: $bindir/artifacts/)" >&2
done
[ ${#failed[@]} -eq 0 ] || exit 1

echo "== fuzz-smoke: $(( $(date +%s) - start ))s"
for h in "$@"; do
  log="$bindir/logs/$h.log"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  echo "fuzz_$h: ${execs:-?} executions, ${cov:-cov: ?}"
done
