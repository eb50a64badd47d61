#!/usr/bin/env bash
# Long fuzzing runs: every fuzzer (or the ones named) for FUZZ_SECONDS
# (3,600 by default), two at a time, keeping what they find in
# build/fuzz/corpus-long/.  With MERGE=1 the inputs that add coverage are
# merged back into fuzz/corpus afterwards, to be committed.
#   fuzz/run-long.sh                      all fuzzers, an hour each
#   FUZZ_SECONDS=600 fuzz/run-long.sh fuzz_column_definition
#   FUZZ_RUNS=10000000 fuzz/run-long.sh ...   each stops after that many inputs too
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

SECONDS_EACH=${FUZZ_SECONDS:-3600}
PARALLEL=${FUZZ_PARALLEL:-2}
if [ $# -gt 0 ]; then FUZZERS=("$@"); fi
build_fuzzers
status_dir=$(mktemp -d)
running=0
for name in "${FUZZERS[@]}"; do
  ( run_fuzzer "$name" "$SECONDS_EACH" "$FUZZ_BUILD/corpus-long/$name" ${FUZZ_RUNS:+-runs="$FUZZ_RUNS"} ||
    touch "$status_dir/$name" ) &
  running=$((running + 1))
  if [ "$running" -ge "$PARALLEL" ]; then wait -n || true; running=$((running - 1)); fi
done
wait
if [ "${MERGE:-0}" = 1 ]; then
  for name in "${FUZZERS[@]}"; do
    "$FUZZ_BUILD/fuzz/$name" -merge=1 -use_counters=0 -max_len=8192 "$FUZZ_ROOT/fuzz/corpus/$name" \
      "$FUZZ_BUILD/corpus-long/$name" >/dev/null 2>&1
    echo "$name: $(ls "$FUZZ_ROOT/fuzz/corpus/$name" | wc -l) seeds"
  done
fi
failed=$(ls "$status_dir")
rm -rf "$status_dir"
if [ -n "$failed" ]; then
  echo "fuzzers that failed: $failed"
  exit 1
fi
echo "long fuzzing: every target ran its time without a finding"
