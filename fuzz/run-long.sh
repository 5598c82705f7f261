#!/usr/bin/env bash
# Fuzzes longer than the test stage does and keeps what widens coverage.
#   fuzz/run-long.sh [target] [seconds] [runs]
#     e.g. fuzz/run-long.sh rtcp 1800      fuzz/run-long.sh "" 0 2000000
# Without a target (or with "") every fuzz program runs, each for the given
# time (600 s by default; 0 for no time limit) and at most the given number
# of inputs (no limit by default). Inputs that reach new code are merged into
# fuzz/corpus/<target>/ (commit them); crashes are left in
# build/fuzz/long/<target>/crashes/. Ends with one line per target: inputs
# run, seconds and inputs per second.
set -euo pipefail
cd "$(dirname "$0")/.."
only="${1:-}"
seconds="${2:-600}"
runs="${3:--1}"
source fuzz/build.sh
summary=()
for program in "${FUZZ_PROGRAMS[@]}"; do
  target="${program%_fuzz}"
  [ -z "$only" ] || [ "$only" = "$target" ] || continue
  work="$FUZZ_DIR/long/$target"
  mkdir -p "$work/new" "$work/crashes" "fuzz/corpus/$target"
  echo "-- $program: ${seconds} s, ${runs} runs"
  status=0
  started=$(date +%s)
  "$FUZZ_DIR/fuzz/$program" ${FUZZ_MAX_LEN[$program]} -max_total_time="$seconds" -runs="$runs" -artifact_prefix="$work/crashes/" \
    -print_final_stats=1 "$work/new" "fuzz/corpus/$target" >"$work/log" 2>&1 || status=$?
  elapsed=$(($(date +%s) - started))
  tail -3 "$work/log"
  done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  per_second=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
  summary+=("$(printf '%-8s %10s runs %8s s %8s/s' "$target" "${done_runs:-?}" "$elapsed" "${per_second:-?}")")
  "$FUZZ_DIR/fuzz/$program" -merge=1 "fuzz/corpus/$target" "$work/new" >/dev/null 2>&1
  rm -rf "$work/new"
  [ "$status" = 0 ] || { echo "$program found a failure; see $work/crashes/ and $work/log" >&2; exit "$status"; }
done
printf '%s\n' "${summary[@]}"
