#!/usr/bin/env bash
# Runs each libFuzzer harness for a short while on a scratch copy of its
# seed corpus and prints the executions each made. Fails on the first
# harness that crashes or breaks a property; its input is kept under
# BINDIR/artifacts.
# usage: smoke.sh SECONDS BINDIR CORPUSDIR HARNESS...
set -euo pipefail
seconds=$1 bindir=$2 corpus=$3
shift 3
mkdir -p "$bindir/work" "$bindir/artifacts" "$bindir/logs"
start=$(date +%s)
summary=()
for h in "$@"; do
  work="$bindir/work/$h"
  mkdir -p "$work"
  log="$bindir/logs/$h.log"
  echo "== fuzz_$h for ${seconds}s"
  if ! "$bindir/fuzz_$h" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 \
      -print_final_stats=1 -artifact_prefix="$bindir/artifacts/$h-" \
      "$work" "$corpus/$h" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz_$h FAILED (log: $log, inputs: $bindir/artifacts/)" >&2
    exit 1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  summary+=("fuzz_$h: ${execs:-?} executions, ${cov:-cov: ?}")
done
echo "== fuzz-smoke: $(( $(date +%s) - start ))s"
printf '%s\n' "${summary[@]}"
