#!/usr/bin/env bash
# Runs the benchmarks of a build directory and prints the summary table.
#   bench/run.sh BUILD_DIR [extra benchmark options]
# Every group of benchmarks on one data set (the plug-in, its floor, memcpy)
# runs in a process of its own, so that what earlier groups left in the
# allocator does not make one size cheaper than another.
# Environment:
#   BENCH_REPETITIONS  repetitions of every benchmark (default 3; the table uses the median)
#   BENCH_FILTER       regular expression selecting benchmarks (default: all)
#   BENCH_TIME         cpu (default) or real: the clock the ratios use
# Results: BUILD_DIR/bench/results/*.json, the benchmarks' own output in
# BUILD_DIR/bench/results/bench.log.
set -euo pipefail
BUILD=${1:?usage: bench/run.sh BUILD_DIR [benchmark options]}
shift
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=$BUILD/bench/corvane_bench
OUT=$BUILD/bench/results
if [ ! -x "$BIN" ]; then
  echo "no $BIN: configure with -DCORVANE_BUILD_BENCH=ON and build first" >&2
  exit 2
fi

# The summary must be right before it is believed.
(cd "$HERE" && python3 -B -m unittest -q test_summarize) >/dev/null 2>&1 || {
  echo "bench/test_summarize.py fails: run it for details" >&2
  exit 2
}

rm -rf "$OUT"
mkdir -p "$OUT"
list_args=()
[ -n "${BENCH_FILTER:-}" ] && list_args+=(--benchmark_filter="$BENCH_FILTER")
mapfile -t names < <("$BIN" --benchmark_list_tests "${list_args[@]}")
mapfile -t groups < <(printf '%s\n' "${names[@]}" | cut -d/ -f1-4 | awk 'NF && !seen[$0]++')
if [ ${#groups[@]} -eq 0 ]; then
  echo "no benchmark matches" >&2
  exit 2
fi
# The exact names of a group's benchmarks as one regular expression.
group_filter() {
  printf '%s\n' "${names[@]}" | awk -v g="$1/" 'index($0, g) == 1' |
    sed 's/[.+*?()|^$]/\\&/g' | paste -sd'|' | sed 's/^/^(/; s/$/)$/'
}

start=$SECONDS
status=0
for i in "${!groups[@]}"; do
  group=${groups[$i]}
  filter=$(group_filter "$group")
  printf '[%2d/%d] %-60s' $((i + 1)) ${#groups[@]} "$group"
  t0=$SECONDS
  if ! "$BIN" --benchmark_filter="$filter" \
      --benchmark_repetitions="${BENCH_REPETITIONS:-3}" \
      --benchmark_display_aggregates_only=true \
      --benchmark_out="$OUT/$(printf %03d "$i").json" --benchmark_out_format=json \
      "$@" >>"$OUT/bench.log" 2>&1; then
    status=1
    printf ' FAILED'
  fi
  printf ' %4ds\n' $((SECONDS - t0))
done
echo "benchmarks took $((SECONDS - start))s; their output: $OUT/bench.log"
echo
python3 -B "$HERE/summarize.py" --time "${BENCH_TIME:-cpu}" "$OUT"/*.json || status=1
exit $status
