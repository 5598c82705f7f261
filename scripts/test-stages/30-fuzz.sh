# The fuzz programs (clang, libFuzzer with ASan and UBSan), each run for a
# fixed number of inputs over its corpus in fuzz/corpus/<target>/, or for at
# most FUZZ_SECONDS: inputs near the 1 MiB limits run slowly. Longer runs
# that grow the corpus: fuzz/run-long.sh.
set -euo pipefail
source fuzz/build.sh
for program in "${FUZZ_PROGRAMS[@]}"; do
  target="${program%_fuzz}"
  work="$FUZZ_DIR/work/$target"
  rm -rf "$work" && mkdir -p "$work/new" "$work/crashes"
  echo "-- $program: ${FUZZ_RUNS:-20000} runs"
  # New inputs go to a scratch folder; the tree's corpus is only read.
  if ! "$FUZZ_DIR/fuzz/$program" ${FUZZ_MAX_LEN[$program]} -runs="${FUZZ_RUNS:-20000}" \
    -max_total_time="${FUZZ_SECONDS:-60}" -artifact_prefix="$work/crashes/" \
    "$work/new" "fuzz/corpus/$target" >"$work/log" 2>&1; then
    tail -60 "$work/log"
    echo "$program failed; the input is in $work/crashes/" >&2
    exit 1
  fi
  tail -1 "$work/log"
done
