#!/usr/bin/env bash
# How each command's time grows with the list, fresh and warm, on Linux and
# on 32-bit Windows under wine (where a reallocated block is copied).
#
#   bash bench/scaling.sh [linux|windows|both] [CELLS] [REPEAT]
#
# Defaults: both, 1000000 cells (and ten times that), median of 3 runs.
set -euo pipefail
cd "$(dirname "$0")/.."
where=${1:-both}
cells=${2:-1000000}
repeat=${3:-3}

if [ "$where" = linux ] || [ "$where" = both ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release --target corvane_scaling >/dev/null
  echo "== Linux"
  build/release/bench/corvane_scaling --cells "$cells" --repeat "$repeat"
fi
if [ "$where" = windows ] || [ "$where" = both ]; then
  # shellcheck source=/dev/null
  . cmake/windows.sh
  windows_build >/dev/null
  if ! runs_32bit_programs; then
    echo "== Windows (wine): not run, this machine's kernel refuses 32-bit programs" >&2
    exit 1
  fi
  echo "== Windows (wine)"
  wine "${CORVANE_WINDOWS_BUILD_DIR:-build/windows}/bench/corvane_scaling.exe" --cells "$cells" --repeat "$repeat" |
    tr -d '\r'
  wineserver -k || true
fi
