# Shared by run-short.sh and run-long.sh: builds the fuzz tree (clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, coverage in the
# plug-ins) and runs one fuzzer on top of its committed corpus.
FUZZ_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
FUZZ_BUILD=${FUZZ_BUILD:-$FUZZ_ROOT/build/fuzz}
FUZZERS=(fuzz_string_to_list fuzz_list_to_string fuzz_list_to_formatted_string
         fuzz_formatted_string_to_list fuzz_column_definition fuzz_formatted_differential
         fuzz_format_file fuzz_escapes fuzz_csv fuzz_encoding fuzz_cell_escaping fuzz_batcher)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The fuzz preset (clang; CORVANE_BUILD_FUZZ brings the sanitizers and the
# coverage-instrumented copies of the plug-ins), into FUZZ_BUILD.
build_fuzzers() {
  (cd "$FUZZ_ROOT" && cmake --preset fuzz -B "$FUZZ_BUILD" >/dev/null) || return
  cmake --build "$FUZZ_BUILD" -j "${JOBS:-2}" --target "${FUZZERS[@]}"
}

# run_fuzzer NAME SECONDS WORK_CORPUS [extra libFuzzer flags...]
# Runs on WORK_CORPUS (new inputs go there) with the committed seeds as a
# second corpus; prints the final statistics line.  Returns libFuzzer's
# status: non-zero when it found a crash, a leak or a failed check, whose
# input is left in $FUZZ_BUILD/artifacts/NAME/.
run_fuzzer() {
  local name=$1 seconds=$2 work=$3
  shift 3
  local seeds="$FUZZ_ROOT/fuzz/corpus/$name"
  local artifacts="$FUZZ_BUILD/artifacts/$name"
  local log="$FUZZ_BUILD/logs/$name.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  local status=0
  "$FUZZ_BUILD/fuzz/$name" -max_total_time="$seconds" -max_len=8192 -timeout=60 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$@" "$work" "$seeds" >"$log" 2>&1 || status=$?
  local done_line
  done_line=$(grep -aE '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  local runs
  runs=$(grep -aE '^stat::number_of_executed_units:' "$log" | awk '{print $2}' || true)
  printf '%-32s %s\n' "$name" "${done_line:-no DONE line} executions: ${runs:-?}"
  if [ "$status" -ne 0 ]; then
    echo "---- $name failed (status $status); the end of its log:"
    tail -n 60 "$log"
    ls -l "$artifacts"
  fi
  return "$status"
}
