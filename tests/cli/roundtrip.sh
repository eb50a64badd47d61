# Lists there and back again: through files (-i/-o) and through pipes, CSV
# and TSV, with cells that need quoting, line breaks in cells, empty cells,
# one-column lists and lists without lines.
. "$(dirname "$0")/lib.sh"

# roundtrip NAME CSV THERE-ARGS -- BACK-ARGS: the list through a file and back
# to CSV must be the file again, and the same through a pipe.
roundtrip() {
  local name=$1 csv=$2 there=() back=()
  shift 2
  while [ "$1" != -- ]; do there+=("$1"); shift; done
  shift
  back=("$@")
  local text=$WORK/text csv2=$WORK/back.csv
  rm -f "$text" "$csv2"
  if cv "${there[@]}" -i "$csv" -o "$text" && cv "${back[@]}" --columns-from "$csv" -i "$text" -o "$csv2" &&
    cmp -s "$csv2" "$csv"; then
    pass
  else
    fail "$name: through files" "$(diff "$csv" "$csv2" 2>&1 | head -n 10)"
  fi
  if cv "${there[@]}" <"$csv" | cv "${back[@]}" --columns-from "$csv" >"$WORK/piped.csv" &&
    cmp -s "$WORK/piped.csv" "$csv"; then
    pass
  else
    fail "$name: through a pipe" "$(diff "$csv" "$WORK/piped.csv" 2>&1 | head -n 10)"
  fi
}

for csv in "$DATA/tricky.csv" "$DATA/one-column.csv" "$EXAMPLES/elements.csv"; do
  base=$(basename "$csv")
  roundtrip "$base: delimited by \\x1F" "$csv" list-to-string --delim '\x1F' -- string-to-list --delim '\x1F'
  roundtrip "$base: delimited by 252" "$csv" list-to-string -- string-to-list
  # Without prefixes and suffixes a last row that renders as nothing is lost:
  # the text then ends with the row delimiter, which the command takes as
  # the optional final one.  one-column.csv ends with such a row.
  [ "$base" != one-column.csv ] && roundtrip "$base: formatted with RS and US" "$csv" \
    list-to-formatted --row-delim '\x1E' --col-delim '\x1F' -- formatted-to-list --row-delim '\x1E' --col-delim '\x1F'
  roundtrip "$base: formatted with brackets and line breaks" "$csv" \
    list-to-formatted --row-prefix '{' --row-suffix '}' --row-delim '\n;\n' --col-prefix '[' --col-suffix ']' \
    --col-delim '\t' -- \
    formatted-to-list --row-prefix '{' --row-suffix '}' --row-delim '\n;\n' --col-prefix '[' --col-suffix ']' \
    --col-delim '\t'
  roundtrip "$base: VARIANT lists" "$csv" \
    list-to-formatted --row-delim '\n' --col-delim ' ' --col-prefix 'VARIANT:<a>,<b>,<c>' --col-suffix 'VARIANT:</a>,</b>,</c>' -- \
    formatted-to-list --row-delim '\n' --col-delim ' ' --col-prefix 'VARIANT:<a>,<b>,<c>' --col-suffix 'VARIANT:</a>,</b>,</c>'
done 2>"$WORK/warnings"
# Only the VARIANT lists warn (three entries for fewer columns).
grep -v "lists 3 entries for" "$WORK/warnings" | sed "s/^/warnings: /" >&2
check "round trips warn only about VARIANT entries" \
  [ -z "$(grep -v 'lists 3 entries for' "$WORK/warnings")" ]

# The unicode data goes through the Unicode build whole; the 8-bit build
# takes it byte for byte with --raw-bytes and gives the same bytes back.
if unicode; then
  roundtrip "unicode.csv" "$DATA/unicode.csv" list-to-string --delim ';' -- string-to-list --delim ';'
fi
roundtrip "unicode.csv, raw bytes" "$DATA/unicode.csv" list-to-string --raw-bytes --delim ';' -- \
  string-to-list --raw-bytes --delim ';'

# TSV: the same table, tab-separated, its tabs, line breaks and backslashes escaped.
cv list-to-string --delim '\x1F' -i "$DATA/tricky.csv" -o "$WORK/tricky.txt"
expect_output "TSV written" "$DATA/tricky.tsv" string-to-list --tsv --line-end lf --delim '\x1F' \
  --columns-from "$DATA/tricky.csv" -i "$WORK/tricky.txt"
expect_output "TSV read" "$WORK/tricky.txt" list-to-string --tsv --delim '\x1F' -i "$DATA/tricky.tsv"
expect_text "line ends on request" 'a\n1\nb\n' string-to-list --columns a --line-end lf --delim , -i "$(input '1,b,')"
expect_text "TSV with CRLF on request" 'a\tb\r\n1\t2\r\n' \
  string-to-list --tsv --line-end crlf --columns a,b --delim , -i "$(input '1,2,')"

# A CSV the program did not write: LF line ends, blank lines between
# records, a byte order mark, quotes where none are needed, no final line end.
expect_text "foreign CSV" '1|2|x y|, |' list-to-string --delim '|' \
  -i "$(input '\xEF\xBB\xBFa,"b"\n\n1,2\n\r\n"x y",", "')"

# A list without lines: the texts are empty, and an empty text is the
# command's bad parameter (result 3), for both directions of both pairs.
header=$(input 'a,b\r\n')
expect_text "list-to-string, no lines" '' list-to-string --delim , -i "$header"
expect_text "list-to-formatted, no lines" '' list-to-formatted --row-delim ';' --col-delim , -i "$header"
expect_text "list-to-formatted, no lines, before and after" '<>' list-to-formatted --row-delim ';' --col-delim , \
  --before '<' --after '>' -i "$header"
expect_failure "string-to-list, empty text" 1 "the input text is empty (result 3)" string-to-list --columns a,b
expect_failure "formatted-to-list, empty text" 1 "the input text is empty (result 3)" \
  formatted-to-list --columns a,b --row-delim ';' --col-delim ,

# Rows come back whole; cells past the last whole row are dropped, with a warning.
ALLOW_WARNINGS=1 expect_text "string-to-list keeps whole rows" 'a,b\none,two\nthree,four\n' \
  string-to-list --columns a,b --delim , -i "$(input 'one,two,three,four,five,')"
expect_warning "string-to-list warns about a part row" "the last cell does not make a whole row of 2 and was dropped" \
  string-to-list --columns a,b --delim , -i "$(input 'one,two,three,four,five,')"
expect_warning "string-to-list warns about text after the last delimiter" \
  '1 character ("\n") after the last delimiter was dropped: every cell must be followed by the delimiter' \
  string-to-list --columns a --delim , -i "$(input 'x,\n')"

finish
