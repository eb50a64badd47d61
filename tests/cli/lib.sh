# lib.sh - what every script of the program's tests shares.  Sourced.
#
# The scripts run the built program as a user runs it, on the build named by
# BUILD (unicode or 8bit), and compare what it prints, writes and exits with.
# Environment (set by CMakeLists.txt): CORVANE, BUILD, PLUGIN_DIR, EXAMPLES,
# EXPECTED, DATA.
set -u
: "${CORVANE:?}" "${BUILD:?}" "${PLUGIN_DIR:?}" "${EXAMPLES:?}" "${EXPECTED:?}" "${DATA:?}"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
passed=0
failed=0
status=0

pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  printf 'FAIL: %s\n' "$1"
  shift
  for line in "$@"; do printf '      %s\n' "$line"; done
}

# The program on the build under test: cv SUBCOMMAND ARGS...  BATCHES
# (say "--batch-rows 1 --jobs 3") is added to the commands that read files,
# so that a script can be run again with its inputs cut into small batches.
cv() {
  local sub=$1
  shift
  if [ -n "${BATCHES:-}" ] && [ "$sub" != info ]; then
    # shellcheck disable=SC2086
    "$CORVANE" "$sub" --build "$BUILD" $BATCHES "$@"
  else
    "$CORVANE" "$sub" --build "$BUILD" "$@"
  fi
}

# run ARGS...: cv with standard input from $STDIN (default /dev/null);
# leaves standard output in $WORK/out, standard error in $WORK/err and the
# exit status in $status.
run() {
  cv "$@" <"${STDIN:-/dev/null}" >"$WORK/out" 2>"$WORK/err"
  status=$?
}

# A file holding the bytes printf '%b' makes of the text (\n, \0, \xHH ...).
input() {
  local file
  file=$(mktemp "$WORK/input.XXXXXX")
  printf '%b' "$1" >"$file"
  printf '%s' "$file"
}

# expect_output NAME EXPECTED_FILE ARGS...: exit 0, nothing on standard
# error (unless ALLOW_WARNINGS is set), standard output byte for byte the
# expected file.
expect_output() {
  local name=$1 expected=$2
  shift 2
  run "$@"
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status" "$(cat "$WORK/err")"
  elif [ -s "$WORK/err" ] && [ -z "${ALLOW_WARNINGS:-}" ]; then
    fail "$name: unexpected standard error" "$(cat "$WORK/err")"
  elif ! cmp -s "$WORK/out" "$expected"; then
    fail "$name: output differs from $expected" "$(diff "$expected" "$WORK/out" | head -n 10)"
  else
    pass
  fi
}

# expect_text NAME TEXT ARGS...: as expect_output, the output given as printf %b text.
expect_text() {
  local name=$1 text=$2
  shift 2
  expect_output "$name" "$(input "$text")" "$@"
}

# expect_failure NAME STATUS MESSAGE ARGS...: that exit status, nothing on
# standard output (with BATCHES the batches before the failing one may have
# been printed there; an output file is still never written), and standard
# error exactly "corvane: MESSAGE".
expect_failure() {
  local name=$1 want=$2 message=$3
  shift 3
  run "$@"
  if [ "$status" -ne "$want" ]; then
    fail "$name: exit status $status, expected $want" "$(cat "$WORK/err")"
  elif [ -s "$WORK/out" ] && [ -z "${BATCHES:-}" ]; then
    fail "$name: printed output although it failed" "$(head -c 200 "$WORK/out")"
  elif [ "$(cat "$WORK/err")" != "corvane: $message" ]; then
    fail "$name: message" "got:      $(cat "$WORK/err")" "expected: corvane: $message"
  else
    pass
  fi
}

# expect_no_file NAME ARGS...: the command fails and leaves no file where -o
# pointed.
expect_no_file() {
  local name=$1
  shift
  rm -f "$WORK/never"
  run "$@" -o "$WORK/never"
  if [ "$status" -eq 0 ] || [ -e "$WORK/never" ]; then fail "$name: exit status $status, and an output file"; else pass; fi
}

# expect_warning NAME MESSAGE ARGS...: exit 0 and the warning on standard error.
expect_warning() {
  local name=$1 message=$2
  shift 2
  run "$@"
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status" "$(cat "$WORK/err")"
  elif ! grep -qxF "corvane: warning: $message" "$WORK/err"; then
    fail "$name: warning" "got:      $(cat "$WORK/err")" "expected: corvane: warning: $message"
  else
    pass
  fi
}

# check NAME COMMAND...: any shell test.
check() {
  local name=$1
  shift
  if "$@"; then pass; else fail "$name"; fi
}

finish() {
  printf '%d passed, %d failed\n' "$passed" "$failed"
  [ "$failed" -eq 0 ]
}

unicode() { [ "$BUILD" = unicode ]; }
