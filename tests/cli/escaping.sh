# Cells escaped into documents and unescaped out of them: what
# list-to-formatted writes is read by real parsers (Python's html.parser,
# json, csv and ElementTree, and xmllint when installed) and must give the
# cells back; formatted-to-list must give back the list itself.
. "$(dirname "$0")/lib.sh"
tables() { python3 "$(dirname "$0")/tables.py" "$@"; }
latin1=$(unicode || echo --latin1)
tables troublesome $latin1 >"$WORK/cells.csv"
tables troublesome $latin1 --xml >"$WORK/xml-cells.csv"
tables csv "$WORK/cells.csv" | tail -n +2 >"$WORK/cells.rows"
tables csv "$WORK/xml-cells.csv" | tail -n +2 >"$WORK/xml-cells.rows"

xml_doc=(--before '<?xml version="1.0" encoding="UTF-8"?>\n<rows>\n' --after '\n</rows>\n'
  --row-prefix '<row><c a="x">' --row-suffix '</c></row>' --row-delim '\n' --col-delim '</c><c a="y">')
# KIND|PARSER|BACK|CELLS|FORMAT ARGS: rendered, parsed, and read back unless BACK
# is "no" (a CSV cell keeps its commas, which formatted-to-list splits at).
while IFS='|' read -r kind parser back cells args; do
  [ -z "$kind" ] && continue
  eval "format=($args)"
  name="--escape $kind, ${args:0:40}"
  ALLOW_WARNINGS=1 run list-to-formatted --escape "$kind" "${format[@]}" -i "$WORK/$cells.csv" -o "$WORK/doc"
  if [ "$status" -ne 0 ]; then
    fail "$name: exit status $status" "$(cat "$WORK/err")"
    continue
  fi
  if [ -n "$parser" ]; then
    tables "$parser" "$WORK/doc" >"$WORK/parsed.rows" 2>"$WORK/err"
    check "$name: $parser parser reads the cells" cmp -s "$WORK/parsed.rows" "$WORK/$cells.rows"
  fi
  if [ "$parser" = xml ] && command -v xmllint >/dev/null; then
    check "$name: xmllint takes the document" xmllint --noout "$WORK/doc"
  fi
  [ "$back" = no ] && continue
  ALLOW_WARNINGS=1 run formatted-to-list --escape "$kind" "${format[@]}" --columns-from "$WORK/$cells.csv" -i "$WORK/doc"
  check "$name: formatted-to-list gives the list back" cmp -s "$WORK/out" "$WORK/$cells.csv"
done <<'CASES'
html|html||cells|--format "$EXAMPLES/formats/html.fmt"
html|markdown||cells|--format "$EXAMPLES/formats/markdown.fmt"
json|json||cells|--format "$EXAMPLES/formats/json.fmt"
json|json||cells|--before '[\n' --after '\n]\n' --row-prefix '  ["' --row-suffix '"]' --row-delim ',\n' --col-delim '", "'
xml|xml||xml-cells|"${xml_doc[@]}"
csv|csv|no|cells|--row-delim '\r\n' --col-delim , --after '\r\n'
csv|||cells|--row-delim '<row>' --col-delim '<col>'
html|||cells|--row-delim ' ;; ' --col-delim ' ; ' --row-prefix '&'
json|||cells|--row-delim '\n' --col-delim ' | '
CASES

# The shipped formats escape without being told; --escape none overrides them.
run list-to-formatted --format "$EXAMPLES/formats/html.fmt" -i "$(input 'a,b\n<i>,&\n')"
check "html.fmt escapes" grep -qF '<td>&lt;i&gt;</td><td>&amp;</td>' "$WORK/out"
run list-to-formatted --format "$EXAMPLES/formats/html.fmt" --escape none -i "$(input 'a,b\n<i>,&\n')"
check "--escape none overrides the format file" grep -qF '<td><i></td><td>&</td>' "$WORK/out"

# A separator that begins inside an escape (the quote of \" in json) is kept
# out by writing the whole escape as a reference; one that references are
# made of (";" in html) cannot be, and the cell is refused, not written so
# that it would not read back.
inside=$(input 'a,b\n"x"", y","\\"""\nq\\,\\u0022\n')
json_sep=(--escape json --row-delim '\n' --col-delim '", ' --row-prefix '"' --row-suffix '"')
run list-to-formatted "${json_sep[@]}" -i "$inside" -o "$WORK/doc"
ALLOW_WARNINGS=1 expect_output "json, a separator inside an escape: there and back" "$inside" \
  formatted-to-list "${json_sep[@]}" --columns a,b -i "$WORK/doc"
STDIN=$(input 'a,b\nx;y,1\n') expect_failure "html, a separator references are made of" 3 \
  'standard input: line 2: column "a", character 2: the separator ";" of the format cannot be kept out of the cell escaped as html (its character references hold it); choose other separators' \
  list-to-formatted --escape html --row-delim '\n' --col-delim ';'

# What the 8-bit build cannot hold stays refused, on the way in and out of a document.
if ! unicode; then
  latin1_message='is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, or --raw-bytes to pass bytes unchanged)'
  STDIN=$(input 'id,text\n1,\xf0\x9f\x98\x80\n') expect_failure "a character above U+FFFF" 3 \
    "standard input: line 2: column \"text\": U+1F600 \"😀\" $latin1_message" list-to-formatted --escape json --row-delim ';' --col-delim ,
  STDIN=$(input '["\\ud83d\\ude00"]') expect_failure "a JSON escape above Latin-1" 3 \
    "standard input: row 1, column \"a\", character 1: U+1F600 \"😀\" $latin1_message" \
    formatted-to-list --escape json --row-prefix '["' --row-suffix '"]' --row-delim '\n' --col-delim '","' --columns a
fi

# Escapes that do not decode: the row, column and character, and no output file.
while IFS='|' read -r kind text message; do
  [ -z "$kind" ] && continue
  STDIN=$(input "$text") expect_failure "--escape $kind, $text" 3 "standard input: $message" \
    formatted-to-list --escape "$kind" --row-delim '\n' --col-delim , --columns a,b
  STDIN=$(input "$text") expect_no_file "--escape $kind, $text" \
    formatted-to-list --escape "$kind" --row-delim '\n' --col-delim , --columns a,b
done <<'CASES'
html|x,y\n1,a &bogus; b|row 2, column "b", character 3: unknown entity "&bogus;" (a cell's entities are &amp; &lt; &gt; &quot; &apos; and &#...;)
html|x,AT&T|row 1, column "b", character 3: an "&" that begins no character reference (a cell writes & as &amp;)
html|&#xD800;,y|row 1, column "a", character 1: "&#xD800;" is no character's number
xml|x,&#1;|row 1, column "b", character 1: "&#1;" is no character's number
json|x,\\q|row 1, column "b", character 1: unknown escape "\q" (JSON knows \" \\ \/ \b \f \n \r \t \uXXXX)
json|x\\u12,y|row 1, column "a", character 2: \u needs four hex digits
json|x,ab\\ud800|row 1, column "b", character 3: a high surrogate \ud800 without its low surrogate
json|x,\\udc00|row 1, column "b", character 1: a low surrogate \udc00 without a high one
json|x,\\u0000|row 1, column "b", character 1: a zero character, which ends every string the plug-in handles
json|x\\,y|row 1, column "a", character 2: a backslash at the end (JSON writes one as \\)
csv|"x,y|row 1, column "a", character 1: a quoted cell that is never closed
csv|x,"a"b"|row 1, column "b", character 4: text after the closing quote (a quote inside a quoted cell is doubled)
CASES

# What a kind cannot write, and names it does not know.
STDIN=$(input 'a,b\n1,x\x01y\n') expect_failure "--escape xml, a control character" 3 \
  'standard input: line 2: column "b", character 2: U+0001 is a character XML 1.0 does not have (--escape html or json can write it)' \
  list-to-formatted --escape xml --row-delim ';' --col-delim ,
format=$(input 'escape=latex\nrow-delim=;\ncol-delim=,\n')
expect_failure "escape= in a format file" 2 "$format, line 1: escape=latex is none of html, xml, json, csv, none" \
  list-to-formatted --format "$format" -i "$(input 'a\n1\n')"
"$CORVANE" list-to-formatted --escape latex </dev/null >"$WORK/out" 2>"$WORK/err"
check "--escape latex" [ $? -eq 2 -a "$(head -n 1 "$WORK/err")" = "corvane: --escape: latex not in {html,xml,json,csv,none}" ]

finish
