# shellcheck shell=bash
# The 32-bit Windows build: cross-compiled with MinGW-w64 into build/windows,
# its tests run under wine.  Sourced by build.sh; usable by hand as well:
#
#   . cmake/windows.sh && windows_build_and_test
#
# Environment: JOBS (parallel jobs, default: number of cores),
# CORVANE_WINDOWS_BUILD_DIR (default: build/windows under the source tree).

# Configures and builds build/windows, and makes its wine prefix; leaves
# WINEPREFIX and the other wine settings exported.
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
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
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

  # One wine server for the whole run, its system processes (services,
  # explorer, ...) started now with their output going nowhere: started by a
  # test program instead, they would inherit ctest's pipes and hold test
  # discovery until the server shuts down.
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 1500) || rc=$?
  wineserver -k || true
  wineserver -w || true
  return "$rc"
}
