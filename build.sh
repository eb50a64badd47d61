#!/usr/bin/env bash
# One entry point for building and testing, used by the README and by CI.
#   ./build.sh demo    build everything, render the bundled example
#   ./build.sh test    build and run every test: Linux, sanitizers, Windows under wine, fuzzers
#   ./build.sh bench   build and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

# Debian packages a fresh machine of this kind lacks.
LINUX_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev googletest
                libbenchmark-dev libcli11-dev libcsv-dev libutfcpp-dev libfmt-dev binutils
                python3 libxml2-utils)
WINDOWS_PACKAGES=(g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32)

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if printf '%s\n' "${missing[@]}" | grep -q ':i386\|^wine32$'; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$JOBS"
}

# Every ctest run's summary goes to this file as well, for the closing count.
TEST_LOG=$ROOT/build/test-summary.log

counted() {
  "$@" 2>&1 | tee -a "$TEST_LOG"
}

test_preset() {
  counted ctest --preset "$1" -j "$JOBS" --timeout 1500
}

closing_count() {
  local total
  total=$(grep -oE '100% tests passed, 0 tests failed out of [0-9]+' "$TEST_LOG" |
          awk '{n += $NF} END {print n + 0}')
  if grep -q '^Windows suites not run' "$TEST_LOG"; then
    echo "all suites: $total passed, 0 failed; the Windows suites did not run (see \"Windows suites not run\" above)"
  else
    echo "all suites: $total passed, 0 failed"
  fi
}

stage_windows() {
  if [ -f cmake/windows.sh ]; then
    # shellcheck source=/dev/null
    . cmake/windows.sh
    windows_build_and_test
  fi
}

stage_fuzz() {
  if [ -f fuzz/run-short.sh ]; then
    bash fuzz/run-short.sh
  fi
}

case "${1:-}" in
  demo)
    install_packages "${LINUX_PACKAGES[@]}"
    build_preset release
    bash examples/demo.sh "$ROOT/build/release"
    ;;
  test)
    install_packages "${LINUX_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
    mkdir -p build
    : >"$TEST_LOG"
    build_preset release
    test_preset release
    build_preset sanitize
    test_preset sanitize
    counted stage_windows
    stage_fuzz
    closing_count
    ;;
  bench)
    install_packages "${LINUX_PACKAGES[@]}"
    build_preset bench
    bash bench/run.sh "$ROOT/build/bench"
    ;;
  *)
    echo "usage: $0 demo|test|bench" >&2
    exit 2
    ;;
esac
