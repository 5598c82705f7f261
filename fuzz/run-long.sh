#!/usr/bin/env bash
# Fuzzes longer than the test stage does and keeps what widens coverage.
#   fuzz/run-long.sh [target] [seconds]     e.g. fuzz/run-long.sh rtcp 1800
# Without a target every fuzz program runs, each for the given time (600 s
# by default). Inputs that reach new code are merged into fuzz/corpus/<target>/
# (commit them); crashes are left in build/fuzz/long/<target>/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
only="${1:-}"
seconds="${2:-600}"
source fuzz/build.sh
for program in "${FUZZ_PROGRAMS[@]}"; do
  target="${program%_fuzz}"
  [ -z "$only" ] || [ "$only" = "$target" ] || continue
  work="$FUZZ_DIR/long/$target"
  mkdir -p "$work/new" "$work/crashes" "fuzz/corpus/$target"
  echo "-- $program for $seconds s"
  status=0
  "$FUZZ_DIR/fuzz/$program" -max_total_time="$seconds" -artifact_prefix="$work/crashes/" -print_final_stats=1 \
    "$work/new" "fuzz/corpus/$target" || status=$?
  "$FUZZ_DIR/fuzz/$program" -merge=1 "fuzz/corpus/$target" "$work/new" >/dev/null 2>&1
  rm -rf "$work/new"
  [ "$status" = 0 ] || { echo "$program found a failure; see $work/crashes/" >&2; exit "$status"; }
done
