# Every way a run can fail: the one-line message and the exit status, and
# that nothing is printed on standard output then.
. "$(dirname "$0")/lib.sh"
list=$(input 'a,b\r\n1,2\r\n')
csv=$EXAMPLES/elements.csv

# --- result codes of the plug-in (exit 1) -------------------------------------
expect_failure "identical delimiters" 1 "row and column delimiters are identical (result 3)" \
  list-to-formatted --row-delim , --col-delim , -i "$list"
expect_failure "both delimiters empty" 1 "row and column delimiters are both empty (result 3)" \
  list-to-formatted -i "$list"
expect_failure "empty row delimiter" 1 "the row delimiter is empty (result 3)" \
  formatted-to-list --col-delim , --columns a,b -i "$(input 'x,y')"
expect_failure "empty column delimiter" 1 "the column delimiter is empty (result 3)" \
  formatted-to-list --row-delim ';' --columns a,b -i "$(input 'x,y')"
expect_failure "formatted-to-list, empty text" 1 "the input text is empty (result 3)" \
  formatted-to-list --row-delim ';' --col-delim , --columns a,b
expect_failure "string-to-list, empty text" 1 "the input text is empty (result 3)" string-to-list --columns a
expect_failure "text without the row start" 1 \
  'the text does not begin with the row start "<tr>\n<td>" (the row prefix and the first column'"'"'s prefix) (result 3)' \
  formatted-to-list --row-prefix '<tr>\n' --col-prefix 'VARIANT:<td>,<th>' --row-delim ';' --col-delim , --columns a,b \
  -i "$(input '<tr>\n<th>x,y')"

# 401 columns: too many for the plug-in, in every command.
names=$(seq -s, -f 'c%g' 1 401)
cells=$(seq -s, 1 401)
wide=$(input "$names\n$cells\n")
too_many="the list has 401 columns; the plug-in handles at most 400 (result 4)"
expect_failure "list-to-string, 401 columns" 1 "$too_many" list-to-string -i "$wide"
expect_failure "list-to-formatted, 401 columns" 1 "$too_many" list-to-formatted --row-delim ';' --col-delim , -i "$wide"
expect_failure "string-to-list, 401 columns" 1 "$too_many" string-to-list --columns "$names" --delim , -i "$(input "$cells,")"
expect_failure "formatted-to-list, 401 columns" 1 "$too_many" \
  formatted-to-list --columns "$names" --row-delim ';' --col-delim , -i "$(input "$cells")"
expect_text "400 columns are fine" "$(seq -s '' -f '%g;' 1 400)" list-to-string --delim ';' \
  -i "$(input "$(seq -s, -f 'c%g' 1 400)\n$(seq -s, 1 400)\n")"

# Column names the host cannot resolve (result 5): one too long, or all of
# them together longer than the plug-in reads.
long=$(printf 'n%.0s' $(seq 255))
expect_failure "a 255-character column name" 1 \
  "a column name has 255 characters; the host resolves names of at most 254 (result 5)" \
  list-to-string -i "$(input "$long\n1\n")"
expect_text "a 254-character column name is fine" '1\xC3\xBC' list-to-string -i "$(input "${long:1}\n1\n")"
if unicode; then width=54 room=15999; else width=162 room=63999; fi
names=$(for i in $(seq 100 499); do printf 'c%s%s,' "$i" "$(printf 'x%.0s' $(seq $((width - 4))))"; done)
names=${names%,}
expect_failure "column names too long together" 1 \
  "the column names take ${#names} characters with the commas between them; the plug-in reads at most $room (result 5)" \
  formatted-to-list --columns "$names" --row-delim ';' --col-delim , -i "$(input 'x')"

# --- input data (exit 3) ---------------------------------------------------------
while IFS='|' read -r data message; do
  [ -z "$data" ] && continue
  STDIN=$(input "$data") expect_failure "CSV: $message" 3 "$message" list-to-string
done <<'CASES'
a,b\n1,2\n3\n|standard input: line 3: 1 cell where the header has 2
a,b\n1,2,3\n|standard input: line 2: 3 cells where the header has 2
a,b\n1,"2\n3,4\n|standard input: line 2: a quoted cell that begins here is never closed
a,b\n1,"two\nlines"\n3,x"y\n|standard input: line 4, character 4: a quote inside an unquoted cell (quote the whole cell and double the quote)
a,b\n1,"x"y\n|standard input: line 2, character 6: text after the closing quote of a cell
a,b\n1,"x" \n|standard input: line 2, character 6: text after the closing quote of a cell
a,b\n\n1,"x\n\xff"\n|standard input: line 4: column "b": invalid UTF-8 (byte 0xFF)
a,b\n1,x\x00y\n|standard input: line 2: column "b": a zero character, which ends every string the plug-in handles
|standard input: no header row (the first record names the columns)
a,,b\n|standard input: header: column 2 has no name
a,"x,y"\n|standard input: header: column 2 is named "x,y", with a comma, which separates the host's column names
a,#LN\n|standard input: header: column 2 is named "#LN", beginning with "#", which marks the host's own variables
a,b,a\n|standard input: header: column 3 has the name "a" of column 1; every column needs a name of its own
CASES

latin1='is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, or --raw-bytes to pass bytes unchanged)'
if unicode; then
  expect_text "CSV: Unicode text" '水素;Łódź;' list-to-string --delim ';' -i "$(input 'w\n水素\nŁódź\n')"
else
  STDIN=$(input 'w\nLille\nŁódź\n') expect_failure "CSV: a character outside Latin-1" 3 \
    "standard input: line 3: column \"w\": U+0141 \"Ł\" $latin1" list-to-string
  text=$(input 'one\nab€,')
  expect_failure "text: a character outside Latin-1" 3 "$text: line 2, character 3: U+20AC \"€\" $latin1" \
    string-to-list --columns a -i "$text"
fi
STDIN=$(input 'x,\nabc\xe9,') expect_failure "text: invalid UTF-8" 3 \
  "standard input: line 2, character 4: invalid UTF-8 (byte 0xE9)" string-to-list --columns a
STDIN=$(input 'a\x00b,') expect_failure "text: a zero character" 3 \
  "standard input: line 1, character 2: a zero character, which ends every string the plug-in handles" \
  string-to-list --columns a
STDIN=$(input '<ul>x') expect_failure "text without the --before text" 3 \
  'standard input does not begin with the text of --before, "<ul>\n"' \
  formatted-to-list --before '<ul>\n' --row-delim ';' --col-delim , --columns a
STDIN=$(input "$(head -n 3 "$EXPECTED/elements.html")") expect_failure "text without the format file's after text" 3 \
  "standard input does not end with the text of $EXAMPLES/formats/html.fmt, line 9 (after), \"\\n</table>\\n\"" \
  formatted-to-list --format "$EXAMPLES/formats/html.fmt" --columns-from "$csv"
header=$(input '"a,b')
expect_failure "--columns-from a malformed header" 3 "$header: line 1: a quoted cell that begins here is never closed" \
  string-to-list --columns-from "$header" -i "$(input 'x,')"

# --- options (exit 2) -----------------------------------------------------------------
expect_failure "--delim of two characters" 2 "--delim must be one character, not 2 (the command uses only the first)" \
  list-to-string --delim ', ' -i "$list"
expect_failure "no columns named" 2 "name the list's columns with --columns a,b,c or --columns-from FILE" \
  string-to-list -i "$(input 'x,')"
expect_failure "--columns, an empty name" 2 "--columns: column 2 has no name" string-to-list --columns a,,b -i "$list"
expect_failure "--columns, a name twice" 2 \
  '--columns: column 2 has the name "a" of column 1; every column needs a name of its own' \
  string-to-list --columns a,a -i "$list"
expect_failure "a format string of 256 characters" 2 \
  "--row-prefix has 256 characters; the plug-in reads at most 255 of a format string" \
  list-to-formatted --row-prefix "$(printf 'p%.0s' $(seq 256))" --row-delim ';' --col-delim , -i "$list"
expect_text "a format string of 255 characters" "$(printf 'p%.0s' $(seq 255))1,2" \
  list-to-formatted --row-prefix "$(printf 'p%.0s' $(seq 255))" --row-delim ';' --col-delim , -i "$list"
while IFS='|' read -r text message; do
  [ -z "$text" ] && continue
  format=$(input "$text")
  expect_failure "format file: $message" 2 "$format, $message" list-to-formatted --format "$format" -i "$list"
done <<'CASES'
# a comment\nrow-delim=;\nrow_delim=,\n|line 3: unknown key "row_delim" (known: before, after, row-prefix, row-suffix, row-delim, col-prefix, col-suffix, col-delim, escape)
\nrow-delim\n|line 2: expected key=value
row-delim=;\r\nrow-delim=,\r\n|line 2: "row-delim" is given twice
col-delim=\\z|line 1 (col-delim), character 1: unknown escape "\z"
ro\rw-prefix=x|line 1: unknown key "ro\x0dw-prefix" (known: before, after, row-prefix, row-suffix, row-delim, col-prefix, col-suffix, col-delim, escape)
CASES
expect_failure "--build against the plug-in file" 2 \
  "--build $BUILD does not match $PLUGIN_DIR/$(unicode && echo Corvane || echo CorvaneU).so, which is the $(unicode && echo 8-bit || echo Unicode) build (tag $(unicode && echo 7CMD || echo UCMD))" \
  list-to-string --plugin "$PLUGIN_DIR/$(unicode && echo Corvane || echo CorvaneU).so" -i "$list"
expect_failure "info with two plug-in files" 2 "name the plug-in file once: as an argument or with --plugin" \
  info "$PLUGIN_DIR/Corvane.so" --plugin "$PLUGIN_DIR/CorvaneU.so"

# Errors of the option parser: the message, a pointer to --help, exit 2.
parser_failure() {
  local name=$1 message=$2
  shift 2
  "$CORVANE" "$@" </dev/null >"$WORK/out" 2>"$WORK/err"
  status=$?
  local want
  want=$(printf 'corvane: %s\nRun %s for the options.' "$message" "'corvane --help' or 'corvane COMMAND --help'")
  if [ "$status" -eq 2 ] && [ ! -s "$WORK/out" ] && [ "$(cat "$WORK/err")" = "$want" ]; then
    pass
  else
    fail "$name" "status $status" "$(cat "$WORK/err")"
  fi
}
parser_failure "no command" "A subcommand is required"
parser_failure "unknown option" "The following argument was not expected: --bogus" list-to-string --bogus
parser_failure "unknown build" "--build: 9bit not in {unicode,8bit}" list-to-string --build 9bit
parser_failure "--columns with --columns-from" "--columns excludes --columns-from" \
  string-to-list --columns a --columns-from "$csv"
parser_failure "option without its value" "--delim: 1 required CHAR missing" list-to-string --delim

# --- files (exit 4) -----------------------------------------------------------------------
expect_failure "missing input" 4 "cannot read $WORK/none.csv: No such file or directory" list-to-string -i "$WORK/none.csv"
expect_failure "missing header file" 4 "cannot read $WORK/none.csv: No such file or directory" \
  string-to-list --columns-from "$WORK/none.csv" -i "$list"
expect_failure "missing format file" 4 "cannot read $WORK/none.fmt: No such file or directory" \
  list-to-formatted --format "$WORK/none.fmt" -i "$list"
expect_failure "missing plug-in file" 4 "cannot load the plug-in $WORK/none.so: no such file" \
  list-to-string --plugin "$WORK/none.so" -i "$list"
expect_failure "a file that is no plug-in" 4 "cannot load the plug-in $csv: not an ELF file" \
  list-to-string --plugin "$csv" -i "$list"

# --- warnings: the command runs, and says what it dropped ---------------------------------
cell=$(printf 'x%.0s' $(seq 256))
expect_warning "a cell longer than list-to-string reads" \
  '1 cell is longer than the 255 characters list-to-string reads of a cell and was cut (first: line 3, column "b")' \
  list-to-string --delim ';' -i "$(input "a,b\n1,2\n3,$cell\n")"
check "the cut cell keeps 255 characters" [ "$(cat "$WORK/out")" = "1;2;3;${cell:1};" ]
expect_warning "VARIANT list longer than the columns" "--col-suffix lists 3 entries for 2 columns; the extra entries are not used" \
  list-to-formatted --row-delim ';' --col-delim , --col-suffix 'VARIANT:a,b,c' -i "$list"
check "its extra entry is not used" [ "$(cat "$WORK/out")" = "1a,2b" ]
expect_warning "VARIANT list of more than 128 entries" "--col-prefix lists 130 entries; the plug-in uses the first 128" \
  list-to-formatted --row-delim ';' --col-delim , --col-prefix "VARIANT:$(printf ',%.0s' $(seq 129))" -i "$list"
expect_warning "a text that ends with its row delimiter" \
  'the text ends with the row delimiter ";" (its last row ends with it or renders as nothing); formatted-to-list takes that for an optional final delimiter and will not read the last row back as it was' \
  list-to-formatted --row-delim ';' --col-delim , -i "$(input 'a\n1\n""\n')"
check "  ... and renders it all the same" [ "$(cat "$WORK/out")" = "1;" ]
cp "$WORK/out" "$WORK/rendered"
STDIN=$WORK/rendered ALLOW_WARNINGS=1 expect_text "  ... which reads back one row short" 'a\n1\n' \
  formatted-to-list --row-delim ';' --col-delim , --columns a

finish
