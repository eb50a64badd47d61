# Help, progress, and finding the plug-ins beside an installed program.
. "$(dirname "$0")/lib.sh"
csv=$EXAMPLES/elements.csv

# --help on the program and on every command: exit 0, usage and an example.
for sub in "" info list-to-string string-to-list list-to-formatted formatted-to-list; do
  # shellcheck disable=SC2086
  "$CORVANE" $sub --help >"$WORK/out" 2>"$WORK/err"
  status=$?
  check "--help ${sub:-(program)}" [ "$status" -eq 0 -a ! -s "$WORK/err" ]
  check "--help ${sub:-(program)} shows the usage" grep -q "^Usage: corvane $sub" "$WORK/out"
  check "--help ${sub:-(program)} has an example" grep -q '^Example' "$WORK/out"
done
# Every option for other files is described and shown in an example.
while read -r sub option; do
  "$CORVANE" "$sub" --help >"$WORK/out"
  check "--help $sub describes $option" grep -qE "^  $option( |$)" "$WORK/out"
  check "--help $sub shows $option in an example" grep -qE "^  +corvane $sub .*$option( |$)" "$WORK/out"
done <<'CASES'
list-to-string --tsv
list-to-string --separator
list-to-string --no-header
list-to-string --ragged
list-to-string --encoding
string-to-list --tsv
string-to-list --separator
string-to-list --no-header
string-to-list --line-end
string-to-list --encoding
list-to-formatted --escape
formatted-to-list --escape
CASES

# The examples the help shows do what it says.
"$CORVANE" list-to-string --help >"$WORK/help"
shown=$(grep -A1 "corvane list-to-string --delim '|'" "$WORK/help" | tail -n 1 | sed 's/^ *//; s/\.\.\.$//')
run list-to-string --delim '|' -i "$csv"
case "$(cat "$WORK/out")" in
  "$shown"?*) pass ;;
  *) fail "list-to-string's example begins as the help shows" "help:   $shown" "output: $(head -c 80 "$WORK/out")" ;;
esac
STDIN=$(input 'H|1|He|2|') expect_text "string-to-list's example" 'symbol,number\nH,1\nHe,2\n' \
  string-to-list --delim '|' --columns symbol,number

# Progress: on request, the bytes of input done against the file's size, and the rate.
# progress_line LABEL BYTES: the last line on standard error is that, done.
progress_line() {
  tr '\r' '\n' <"$WORK/err" | tail -n 1 | grep -qE "^$1: $2 of $2 bytes \(100%\), [0-9]+\.[0-9] MB/s\$"
}
run list-to-formatted --progress always --row-delim '\n' --col-delim , -i "$csv"
check "progress always" [ "$status" -eq 0 ] && check "  ... ends with all bytes done" progress_line list-to-formatted 1,087
run string-to-list --progress always --columns-from "$csv" -i "$EXPECTED/elements.252.txt" --batch-rows 5 --jobs 2
check "progress always, in batches" [ "$status" -eq 0 ] &&
  check "  ... ends with all bytes done" progress_line string-to-list "$(stat -c %s "$EXPECTED/elements.252.txt" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta')"
run list-to-string --progress never -i "$csv"
check "progress never" [ "$status" -eq 0 -a ! -s "$WORK/err" ]
run list-to-string -i "$csv"
check "no progress when standard error is no terminal" [ "$status" -eq 0 -a ! -s "$WORK/err" ]
if command -v script >/dev/null; then
  script -qec "'$CORVANE' list-to-string --build $BUILD -i '$csv' -o '$WORK/tty.txt'" /dev/null </dev/null >"$WORK/tty" 2>&1
  check "no progress on a terminal for a short job" [ ! -s "$WORK/tty" ]
  check "  ... which did its work" cmp -s "$WORK/tty.txt" "$EXPECTED/elements.252.txt"
fi

# Installed: the program finds the plug-ins where the install put them.
if "${CMAKE_COMMAND:-cmake}" --install "$BINARY_DIR" --prefix "$WORK/prefix" >"$WORK/install.log" 2>&1; then
  pass
  "$WORK/prefix/bin/corvane" info --build "$BUILD" >"$WORK/out" 2>"$WORK/err"
  check "installed: info runs" [ "$?" -eq 0 ]
  plugin=$(head -n 1 "$WORK/out" | sed 's/^file: *//')
  check "installed: the plug-in comes from the install" [ "${plugin#"$WORK/prefix/"}" != "$plugin" -a -f "$plugin" ]
  "$WORK/prefix/bin/corvane" list-to-formatted --build "$BUILD" --format "$EXAMPLES/formats/json.fmt" -i "$csv" \
    >"$WORK/out" 2>"$WORK/err"
  check "installed: renders the example" cmp -s "$WORK/out" "$EXPECTED/elements.json"
else
  fail "cmake --install" "$(tail -n 5 "$WORK/install.log")"
fi

finish
