#!/usr/bin/env bash
# Line and branch coverage of the plug-in's sources (source/) by the test
# suite: a clang build with source-based coverage in build/coverage, every
# suite run once, the profiles merged, one summary printed and an HTML report
# written to build/coverage/report/.
#   tests/coverage.sh              the whole suite
#   tests/coverage.sh -R lifecycle only the suites ctest selects this way
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/coverage
PROFILES=$BUILD/profiles
LLVM_SUFFIX=${LLVM_SUFFIX:--14}
FLAGS="-fprofile-instr-generate -fcoverage-mapping"

CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_BUILD_TOOLS=OFF -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$FLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$FLAGS" \
  -DCMAKE_MODULE_LINKER_FLAGS="$FLAGS" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}"

rm -rf "$PROFILES"
mkdir -p "$PROFILES"
# %m keeps the profile of each plug-in file apart from the test program's.
LLVM_PROFILE_FILE="$PROFILES/%p-%m.profraw" \
  ctest --test-dir "$BUILD" -j "${JOBS:-2}" --timeout 3000 -E '^exports\.' "$@" >"$BUILD/ctest.log" 2>&1 ||
  { tail -n 30 "$BUILD/ctest.log"; exit 1; }
tail -n 3 "$BUILD/ctest.log"
"llvm-profdata$LLVM_SUFFIX" merge -sparse "$PROFILES"/*.profraw -o "$BUILD/suite.profdata"

# Every binary that carries plug-in code: the four plug-in builds and the
# test programs that compile support routines in.
objects=()
for f in "$BUILD"/plugins/*.so "$BUILD"/tests/support_test_8 "$BUILD"/tests/support_test_U; do
  [ -f "$f" ] || continue
  if [ ${#objects[@]} -eq 0 ]; then objects+=("$f"); else objects+=(-object "$f"); fi
done
filter=("$ROOT/source")
"llvm-cov$LLVM_SUFFIX" report "${objects[@]}" -instr-profile="$BUILD/suite.profdata" \
  -show-branch-summary "${filter[@]}" | tee "$BUILD/summary.txt"
"llvm-cov$LLVM_SUFFIX" show "${objects[@]}" -instr-profile="$BUILD/suite.profdata" \
  -format=html -show-branches=count -output-dir="$BUILD/report" "${filter[@]}"
"llvm-cov$LLVM_SUFFIX" show "${objects[@]}" -instr-profile="$BUILD/suite.profdata" \
  -show-branches=count -show-line-counts-or-regions "${filter[@]}" >"$BUILD/lines.txt"
echo "report: $BUILD/report/index.html, annotated sources: $BUILD/lines.txt"
