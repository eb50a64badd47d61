# shellcheck shell=bash
# The 32-bit Windows build: cross-compiled with MinGW-w64 into build/windows,
# its tests run under wine.  Sourced by build.sh; usable by hand as well:
#
#   . cmake/windows.sh && windows_build_and_test
#
# Environment: JOBS (parallel jobs, default: number of cores),
# CORVANE_WINDOWS_BUILD_DIR (default: build/windows under the source tree).

WINDOWS_CHECKED_SUITES=(lifecycle_test list_string_test formatted_test design_test fault_sweep_test
                        host_fault_test host_test windows_test support_test_8 support_test_U)

# windows_heap_checks FLAGS PROGRAM... : the GlobalFlag value wine applies to
# each test program (by file name) in the current WINEPREFIX, 0 for none.
windows_heap_checks() {
  local flags=$1 reg key
  shift
  reg=$(mktemp --suffix=.reg)
  key='HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'
  {
    printf 'REGEDIT4\n\n'
    for program in "$@"; do
      printf '[%s\\%s.exe]\n"GlobalFlag"=dword:%08x\n\n' "$key" "$program" "$flags"
    done
  } >"$reg"
  wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1
  local status=$?
  rm -f "$reg"
  return "$status"
}

# Whether this machine starts 32-bit x86 programs at all.  A kernel started
# with its 32-bit emulation off refuses every one of them, wine's own loader
# included, with "Exec format error" (status 126): there the Windows suites
# cannot run.  Any other trouble is left for wine to report.
runs_32bit_programs() {
  local loader=/usr/lib/i386-linux-gnu/ld-linux.so.2 out status=0
  [ -x "$loader" ] || return 0
  out=$("$loader" --help 2>&1 >/dev/null) || status=$?
  ! { [ "$status" -eq 126 ] && printf '%s' "$out" | grep -q 'Exec format error'; }
}

# Configures and builds build/windows, and makes its wine prefix where wine
# can run; leaves WINEPREFIX and the other wine settings exported.
windows_build() {
  local root dir jobs
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  dir="${CORVANE_WINDOWS_BUILD_DIR:-$root/build/windows}"
  jobs="${JOBS:-$(nproc)}"

  (cd "$root" && cmake --preset windows -B "$dir" >/dev/null) || return
  cmake --build "$dir" -j "$jobs" || return

  # The same settings as the toolchain's test emulator: a wine prefix of the
  # build tree's own, created once (the first wineboot takes a while), no
  # prompts for optional wine components, no debug chatter.
  export WINEPREFIX="$dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ] && runs_32bit_programs; then
    echo "creating the wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1 || return
    wineserver -w
  fi
}

windows_build_and_test() {
  local root dir jobs rc=0
  root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  dir="${CORVANE_WINDOWS_BUILD_DIR:-$root/build/windows}"
  jobs="${JOBS:-$(nproc)}"
  windows_build || return
  if ! runs_32bit_programs; then
    echo "Windows suites not run: this machine's kernel refuses 32-bit programs (\"Exec format error\"," \
      "its 32-bit emulation is off), so wine cannot start them; the DLLs and the test programs were built"
    return 0
  fi

  # One wine server for the whole run, its system processes (services,
  # explorer, ...) started now with their output going nowhere: started by a
  # test program instead, they would inherit ctest's pipes and hold test
  # discovery until the server shuts down.
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  # The Windows heap's tail and free checks (GlobalFlag 0x30) for the test
  # programs where they pay: a block written past its end or after it was
  # freed then fails the test that did it (each test validates the heaps as
  # it ends) instead of crashing some later exit now and then.  The
  # volume suites (limits, soak) and the million-cell round trip would take
  # many minutes under the checks; they run without them.
  windows_heap_checks 0x30 "${WINDOWS_CHECKED_SUITES[@]}" || return
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 1500 -E 'AMillionCellsRoundTrip') || rc=$?
  windows_heap_checks 0 list_string_test lifecycle_test fault_sweep_test host_fault_test || return
  (cd "$dir" && ctest --output-on-failure --timeout 1500 -R 'AMillionCellsRoundTrip') || rc=$?
  # The leak checks count the bytes in use with a walk of the heaps, which
  # the free checks defeat (they hold freed blocks back, still counted): the
  # suites that count run once more without them.
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 1500 \
    -R 'ThousandsOfCycles|FaultSweep|HostFaultMatrix') || rc=$?
  wineserver -k || true
  wineserver -w || true
  return "$rc"
}
