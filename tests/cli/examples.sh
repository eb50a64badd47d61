# Each command on the bundled example, output compared byte for byte with
# what was worked out for it apart from the program.
. "$(dirname "$0")/lib.sh"
csv=$EXAMPLES/elements.csv

expect_output "list-to-string, delimiter |" "$EXPECTED/elements.pipes.txt" list-to-string --delim '|' -i "$csv"
expect_output "list-to-string, default delimiter 252" "$EXPECTED/elements.252.txt" list-to-string -i "$csv"
expect_output "list-to-string, delimiter \\xFC is the default" "$EXPECTED/elements.252.txt" \
  list-to-string --delim '\xFC' -i "$csv"
expect_output "list-to-string, empty delimiter keeps 252" "$EXPECTED/elements.252.txt" \
  list-to-string --delim '' -i "$csv"

for format in html:html markdown:md json:json; do
  expect_output "list-to-formatted, ${format%%:*}" "$EXPECTED/elements.${format##*:}" \
    list-to-formatted --format "$EXAMPLES/formats/${format%%:*}.fmt" -i "$csv"
  expect_output "formatted-to-list, ${format%%:*}" "$csv" \
    formatted-to-list --format "$EXAMPLES/formats/${format%%:*}.fmt" --columns-from "$csv" \
    -i "$EXPECTED/elements.${format##*:}"
done

expect_output "string-to-list, delimiter |" "$csv" \
  string-to-list --delim '|' --line-end crlf --columns number,symbol,name,french,mass -i "$EXPECTED/elements.pipes.txt"
expect_output "string-to-list, default delimiter" "$csv" \
  string-to-list --columns-from "$csv" -i "$EXPECTED/elements.252.txt"
expect_output "string-to-list, TSV out, columns from a CSV" "$EXPECTED/elements.tsv" \
  string-to-list --tsv --line-end lf --delim '|' --columns-from "$csv" -i "$EXPECTED/elements.pipes.txt"
expect_output "string-to-list, columns from a TSV" "$csv" \
  string-to-list --delim '|' --line-end crlf --columns-from "$EXPECTED/elements.tsv" -i "$EXPECTED/elements.pipes.txt"
expect_output "list-to-string, TSV in" "$EXPECTED/elements.pipes.txt" \
  list-to-string --tsv --delim '|' -i "$EXPECTED/elements.tsv"

# Format strings on the command line override the file's.
expect_text "list-to-formatted, an option overrides the format file" \
  '| number | symbol | name | french | mass |\n|---:|:---:|---|---|---:|\n| 1 | H | Hydrogen | Hydrogène | 1.008 | // | 2 | He | Helium | Hélium | 4.0026 |\n' \
  list-to-formatted --format "$EXAMPLES/formats/markdown.fmt" --row-delim ' // ' -i "$(input "$(head -n 3 "$csv")")"
expect_text "list-to-formatted, every format string" '[<x1>,<y1>];[<x2>,<y2>]' \
  list-to-formatted --row-prefix '[' --row-suffix ']' --row-delim ';' --col-prefix '<' --col-suffix '>' \
  --col-delim , -i "$(input 'c1,c2\nx1,y1\nx2,y2\n')"
expect_text "list-to-formatted, VARIANT lists" '[(x1),{y1}];[(x2),{y2}]' \
  list-to-formatted --row-prefix '[' --row-suffix ']' --row-delim ';' --col-prefix 'VARIANT:(,{' \
  --col-suffix 'VARIANT:),}' --col-delim , -i "$(input 'c1,c2\nx1,y1\nx2,y2\n')"

# info: what a host learns from the file, and the design help.
run info
sed '1s|^file:.*/|file:         PLUGIN_DIR/|' "$WORK/out" >"$WORK/info"
check "info, exit status" [ "$status" -eq 0 ]
check "info, output" cmp -s "$WORK/info" "$EXPECTED/info-$BUILD.txt"
run info "$PLUGIN_DIR/$(unicode && echo CorvaneU || echo Corvane).so"
check "info PLUGIN names the same file as --build" \
  [ "$status" -eq 0 -a "$(head -n 1 "$WORK/out")" = "file:         $PLUGIN_DIR/$(unicode && echo CorvaneU || echo Corvane).so" ]

finish
