#!/usr/bin/env bash
# The fuzzers as the test stage runs them: each one for a bounded time
# on top of its committed corpus (the stage's 360 seconds shared out
# evenly, or FUZZ_SECONDS each), under
# AddressSanitizer and UndefinedBehaviorSanitizer.  New inputs go to a
# scratch corpus in the build tree, never into fuzz/corpus.  Fails when
# any fuzzer finds a crash, a leak or a failed check.
set -euo pipefail
# shellcheck source=common.sh
. "$(dirname "$0")/common.sh"

SECONDS_EACH=${FUZZ_SECONDS:-$((360 / ${#FUZZERS[@]}))}
build_fuzzers
failed=()
echo "fuzzing ${#FUZZERS[@]} targets, ${SECONDS_EACH} s each:"
for name in "${FUZZERS[@]}"; do
  work="$FUZZ_BUILD/corpus-short/$name"
  rm -rf "$work"
  run_fuzzer "$name" "$SECONDS_EACH" "$work" || failed+=("$name")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzers that failed: ${failed[*]}"
  exit 1
fi
echo "fuzzing: every target ran its time without a finding"
