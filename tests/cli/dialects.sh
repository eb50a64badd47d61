# Lists as other programs write them: TSV as databases export it, other
# separators, no header row, line ends, ragged rows and encodings; read,
# checked against Python's readers and iconv, and written back byte for byte.
. "$(dirname "$0")/lib.sh"
tables() { python3 "$(dirname "$0")/tables.py" "$@"; }

# there_and_back NAME FILE THERE-ARGS -- BACK-ARGS: the list to a text and back
# gives the file again, byte for byte.
there_and_back() {
  local name=$1 file=$2 there=() back=()
  shift 2
  while [ "$1" != -- ]; do there+=("$1"); shift; done
  shift
  back=("$@")
  if cv list-to-string --delim '\x1F' "${there[@]}" -i "$file" -o "$WORK/text" &&
    cv string-to-list --delim '\x1F' "${back[@]}" -i "$WORK/text" -o "$WORK/back" && cmp -s "$WORK/back" "$file"; then
    pass
  else
    fail "$name: there and back" "$(cmp "$WORK/back" "$file" 2>&1)"
  fi
}

# --- TSV -----------------------------------------------------------------------------
# An export whose descriptions hold quotes, backslashes and escaped line breaks.
packages=$DATA/packages.tsv
cv list-to-string --tsv --delim '\x1F' -i "$packages" -o "$WORK/packages.txt"
cv string-to-list --delim '\x1F' --columns-from "$packages" -i "$WORK/packages.txt" -o "$WORK/packages.csv"
tables tsv "$packages" >"$WORK/expected.rows"
tables csv "$WORK/packages.csv" >"$WORK/got.rows"
check "packages.tsv: the cells another reader finds" cmp -s "$WORK/got.rows" "$WORK/expected.rows"
there_and_back "packages.tsv" "$packages" --tsv -- --tsv --columns-from "$packages"
# One column: a blank line is a record of one empty cell.
printf 'only\nx\n\n\\t\n\n' >"$WORK/one.tsv"
expect_text "TSV, one column with empty cells" 'x;;\t;;' list-to-string --tsv --delim ';' -i "$WORK/one.tsv"
there_and_back "TSV, one column" "$WORK/one.tsv" --tsv -- --tsv --columns-from "$WORK/one.tsv"

while IFS='|' read -r data message; do
  [ -z "$data" ] && continue
  STDIN=$(input "$data") expect_failure "TSV: $message" 3 "standard input: $message" list-to-string --tsv
  STDIN=$(input "$data") expect_no_file "TSV: $message" list-to-string --tsv
done <<'CASES'
a\tb\n1\tx\\qy\n|line 2, character 4: unknown escape "\q" (a TSV cell knows \t \n \r \\; a backslash is written \\)
a\tb\n1\tx\\\n|line 2, character 4: a backslash at the end of the line (a backslash in a cell is written \\)
a\tb\r\n1\r\n|line 2: 1 cell where the header has 2
a\tb\n\n1\t2\t3\n|line 3: 3 cells where the header has 2
a\tb\n1\t\xff\n|line 2: column "b": invalid UTF-8 (byte 0xFF)
CASES

# --- other separators ------------------------------------------------------------------------
# A lone carriage return ends a record, the header's too: the records after
# it on the header's line are read, whatever the batches.
expect_text "a header ended by a carriage return" '1|2|3|4|5|6|' list-to-string --delim '|' \
  -i "$(input 'a,b\r1,2\r3,4\n5,6\n')"
# A line of carriage returns is blank: a bad record after it is named by
# its own line, whatever the batches.
STDIN=$(input 'a,b\n1,2\n\r\r\n3\n') expect_failure "a record after a line of carriage returns" 3 \
  "standard input: line 4: 1 cell where the header has 2" list-to-string
# A quoted cell that opens behind a lone carriage return keeps its blank
# lines.
expect_text "a quoted cell behind a carriage return" '1|2|x\n\ny|3|' list-to-string --delim '|' \
  -i "$(input 'a,b\n1,2\r"x\n\ny",3\n')"
# A byte order mark behind a blank line is a column name, not the start of
# the file, whatever the batches: the records after it are all read.
if unicode; then
  expect_text "a header behind a blank line" 'abc|' list-to-string --delim '|' -i "$(input '\n\xef\xbb\xbf\nabc\n')"
  STDIN=$(input '\n\xef\xbb\xbf\nab\xd34\n') expect_failure "a bad record behind a header behind a blank line" 3 \
    "standard input: line 3: column \"$(printf '\xef\xbb\xbf')\": invalid UTF-8 (byte 0xD3)" list-to-string
fi
expect_text "--separator ;" '1|x;y|2||' list-to-string --separator ';' --delim '|' -i "$(input 'a;b\r\n1;"x;y"\r\n"2";\r\n')"
for sep in ';' '|' '\t' ' '; do
  printf "a${sep}b${sep}c\r\n1${sep}\"x${sep}y\"${sep}\"q\"\"\"\r\n${sep}${sep}\r\n" >"$WORK/sep.csv"
  there_and_back "--separator '$sep'" "$WORK/sep.csv" --separator "$sep" -- --separator "$sep" --columns-from "$WORK/sep.csv"
done
while IFS='|' read -r value message; do
  [ -z "$value" ] && continue
  expect_failure "--separator $value" 2 "$message" list-to-string --separator "$value" -i "$(input 'a\n1\n')"
done <<'CASES'
;;|--separator must be one character, not 2
\x22|--separator: a quote or a line break cannot separate cells
\n|--separator: a quote or a line break cannot separate cells
é|--separator: U+00E9 "é" is not an ASCII character, which a CSV separator must be
CASES
expect_failure "--separator, empty" 2 "--separator must be one character, not 0" \
  list-to-string --separator '' -i "$(input 'a\n1\n')"

# --- no header row ------------------------------------------------------------------------------
expect_text "--no-header in" '1|2|3|4|' list-to-string --no-header --columns a,b --delim '|' -i "$(input '1,2\n3,4\n')"
expect_text "--no-header out" '1,2\n3,4\n' string-to-list --no-header --columns a,b --delim , -i "$(input '1,2,3,4,')"
expect_text "--no-header, names from a header file" '1;2' \
  list-to-formatted --no-header --columns-from "$(input 'a,b\n')" --row-delim '\n' --col-delim ';' -i "$(input '1,2\n')"
printf '1,x\n2,"y,z"\n' >"$WORK/headless.csv"
there_and_back "--no-header" "$WORK/headless.csv" --no-header --columns a,b -- --no-header --columns a,b
expect_failure "--columns without --no-header" 2 \
  "--columns names the columns of a CSV without a header row: add --no-header, or leave it out to take the names from the header" \
  list-to-string --columns a,b -i "$(input 'a,b\n1,2\n')"
expect_failure "--no-header without names" 2 "name the list's columns with --columns a,b,c or --columns-from FILE" \
  list-to-string --no-header -i "$(input '1,2\n')"
STDIN=$(input '1,2\n3\n') expect_failure "--no-header, a short record" 3 \
  "standard input: line 2: 1 cell where the list has 2 columns" list-to-string --no-header --columns a,b

# --- line ends: as the table read, LF without one, or as asked -----------------------------------
printf 'a,b\r\n' >"$WORK/crlf.csv"
printf 'a,b\n' >"$WORK/lf.csv"
printf 'a\tb\r\n' >"$WORK/crlf.tsv"
while IFS='|' read -r names option ending; do
  [ -z "$names" ] && continue
  eval "args=($names)"
  [ -n "$option" ] && args+=(--line-end "$option")
  separator=,
  case "$names" in *--tsv*) separator='\t' ;; esac
  expect_text "lines end with $ending: $names ${option:+--line-end $option}" "a${separator}b${ending}1${separator}2${ending}" \
    string-to-list --delim , "${args[@]}" -i "$(input '1,2,')"
done <<'CASES'
--columns-from "$WORK/crlf.csv"||\r\n
--columns-from "$WORK/lf.csv"||\n
--columns a,b||\n
--columns a,b|crlf|\r\n
--columns-from "$WORK/crlf.csv"|lf|\n
--tsv --columns-from "$WORK/crlf.tsv"||\r\n
--tsv --columns a,b|crlf|\r\n
CASES
expect_text "formatted-to-list, lines as the header file's" 'a,b\r\n1,2\r\n' \
  formatted-to-list --row-delim ';' --col-delim , --columns-from "$WORK/crlf.csv" -i "$(input '1,2')"
printf 'a,b\n1,"x\r\ny"\n,\n' >"$WORK/lf-data.csv"
there_and_back "LF lines" "$WORK/lf-data.csv" -- --columns-from "$WORK/lf-data.csv"

# --- ragged rows -----------------------------------------------------------------------------------
ragged='a,b,c\n1\n1,2,3,4\n1,2,3\n1,2\n'
while IFS='#' read -r how data text; do
  [ -z "$how" ] && continue
  ALLOW_WARNINGS=1 expect_text "--ragged $how: $data" "$text" list-to-string --ragged "$how" --delim '|' -i "$(input "$data")"
done <<'CASES'
truncate#a,b,c\n1\n1,2,3,4\n1,2,3\n1,2\n#1|||1|2|3|1|2|3|1|2||
pad#a,b,c\n1\n1,2\n#1|||1|2||
pad#a,b\n1,2\n#1|2|
CASES
ALLOW_WARNINGS=1 expect_text "--ragged truncate, TSV" '1||1|2|' list-to-string --tsv --ragged truncate --delim '|' \
  -i "$(input 'a\tb\n1\n1\t2\t3\n')"
run list-to-string --ragged truncate -i "$(input "$ragged")"
check "--ragged truncate says how many rows it changed" [ "$(cat "$WORK/err")" = \
  "corvane: warning: --ragged truncate changed 3 rows to the 3 cells of the header (2 padded with empty cells, 1 cut)" ]
run list-to-string --ragged pad -i "$(input 'a,b,c\n1\n')"
check "--ragged pad says how many rows it changed" [ "$(cat "$WORK/err")" = \
  "corvane: warning: --ragged pad changed 1 row to the 3 cells of the header (1 padded with empty cells)" ]
run list-to-string --ragged pad --no-header --columns a,b -i "$(input '1\n1,2\n')"
check "--ragged pad without a header" [ "$(cat "$WORK/err")" = \
  "corvane: warning: --ragged pad changed 1 row to the 2 cells of the list's columns (1 padded with empty cells)" ]
STDIN=$(input "$ragged") expect_failure "--ragged pad, a long row" 3 "standard input: line 3: 4 cells where the header has 3" \
  list-to-string --ragged pad
STDIN=$(input "$ragged") expect_failure "no --ragged" 3 "standard input: line 2: 1 cell where the header has 3" list-to-string

# --- encodings ----------------------------------------------------------------------------------------
# The same table in several encodings: read, the text compared with what
# iconv makes of the UTF-8 one, and written back byte for byte.
if unicode; then
  printf 'name,text\r\nutf,Hydrogène ½ € Łódź 水素 😀\r\n' >"$WORK/table.csv"
  encodings="utf-16 utf-16le utf-32 utf-8 gb18030"
else
  printf 'name,text\r\nlatin,Hydrogène ½ « » ÿ\r\n' >"$WORK/table.csv"
  encodings="latin1 windows-1252 utf-16 cp850"
fi
cv list-to-string --delim '|' -i "$WORK/table.csv" -o "$WORK/table.txt"
for encoding in $encodings; do
  iconv -f utf-8 -t "$encoding" "$WORK/table.csv" >"$WORK/table.$encoding"
  iconv -f utf-8 -t "$encoding" "$WORK/table.txt" >"$WORK/expected.txt"
  expect_output "--encoding $encoding: read" "$WORK/expected.txt" \
    list-to-string --encoding "$encoding" --delim '|' -i "$WORK/table.$encoding"
  there_and_back "--encoding $encoding" "$WORK/table.$encoding" --encoding "$encoding" -- \
    --encoding "$encoding" --columns-from "$WORK/table.$encoding"
done
run list-to-string --encoding utf-16 --delim '|' -i "$WORK/table.utf-16"
check "--encoding utf-16 writes a byte order mark" [ "$(head -c 2 "$WORK/out" | od -An -tx1 | tr -d ' ')" = fffe ]

# A spreadsheet's Windows-1252 CSV: the Unicode build takes its curly quotes
# and euro sign; the 8-bit build says which character it cannot hold.
sheet=$(input 'name;note\r\nCaf\xe9;\x93quoted\x94 \x80 5\r\n')
if unicode; then
  expect_text "Windows-1252 CSV" 'Caf\xe9|\x93quoted\x94 \x80 5|' \
    list-to-string --encoding windows-1252 --separator ';' --delim '|' -i "$sheet"
else
  expect_failure "Windows-1252 CSV" 3 \
    "$sheet: line 2: column \"note\": U+201C \"“\" is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, or --raw-bytes to pass bytes unchanged)" \
    list-to-string --encoding windows-1252 --separator ';' --delim '|' -i "$sheet"
fi

while IFS='|' read -r encoding data message; do
  [ -z "$encoding" ] && continue
  STDIN=$(input "$data") expect_failure "--encoding $encoding: $message" 3 "standard input: $message" \
    list-to-string --encoding "$encoding"
  STDIN=$(input "$data") expect_no_file "--encoding $encoding: $message" list-to-string --encoding "$encoding"
done <<'CASES'
windows-1252|a,b\r\n\xe9,\x81\r\n|line 2, byte offset 7: invalid windows-1252 (byte 0x81)
utf-16le|a\x00\n\x00b|line 2, byte offset 4: incomplete utf-16le (byte 0x62)
CASES
expect_failure "--encoding klingon" 2 "--encoding: unknown encoding \"klingon\" ('iconv --list' shows the names this system knows)" \
  list-to-string --encoding klingon -i "$WORK/table.csv"
expect_no_file "--encoding klingon" list-to-string --encoding klingon -i "$WORK/table.csv"
STDIN=$(input 'x,') expect_failure "a character the output's encoding cannot hold" 3 \
  'standard output: line 1, character 2: U+00FF "ÿ" has no form in ascii' \
  string-to-list --encoding ascii --columns 'a\xFF' --delim ,
STDIN=$(input 'x,') expect_no_file "a character the output's encoding cannot hold" \
  string-to-list --encoding ascii --columns 'a\xFF' --delim ,

# --- what the option parser refuses: the message, and nothing written -----------------------------
while IFS='|' read -r message args; do
  [ -z "$message" ] && continue
  eval "args=($args)"
  "$CORVANE" "${args[@]}" -i "$WORK/table.csv" -o "$WORK/never" </dev/null >"$WORK/out" 2>"$WORK/err"
  status=$?
  check "$message" [ "$status" -eq 2 -a "$(head -n 1 "$WORK/err")" = "corvane: $message" -a ! -e "$WORK/never" ]
done <<'CASES'
--raw-bytes excludes --encoding|list-to-string --encoding latin1 --raw-bytes
--tsv excludes --separator|list-to-string --tsv --separator ,
--ragged: sometimes not in {pad,truncate}|list-to-string --ragged sometimes
--line-end: cr not in {crlf,lf}|string-to-list --columns a --line-end cr
The following arguments were not expected: lf --line-end|list-to-string --line-end lf
The following arguments were not expected: pad --ragged|string-to-list --columns a --ragged pad
CASES

finish
