#!/usr/bin/env bash
# What reading other files costs the command-line program: TSV against CSV,
# a file in Windows-1252 against UTF-8, and cell escaping against none, on
# one generated package-index export (ROWS rows, default 300,000).  Prints
# the least CPU time (user + system) of five runs of each and its ratio to
# its baseline in the same run.
#   bench/dialects.sh build/release/tools/corvane
set -euo pipefail
CORVANE=$(realpath "${1:?usage: bench/dialects.sh CORVANE}")
ROWS=${ROWS:-300000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$ROWS" <<'PY'
import csv, random, sys
work, rows = sys.argv[1], int(sys.argv[2])
random.seed(1)
words = ['fast', '"quoted"', 'tool', 'library', 'for', 'C:\\path', 'the', 'with', 'a "tiny"', 'parser',
         'caf\u00e9', 'na\u00efve', 'JSON', 'CSV, TSV']
with open(f'{work}/big.tsv', 'w', newline='') as t, open(f'{work}/big.csv', 'w', newline='') as c:
    w = csv.writer(c, lineterminator='\n')
    t.write('name\tversion\tsummary\n')
    w.writerow(['name', 'version', 'summary'])
    for i in range(rows):
        row = [f'pkg{i}', f'{i % 10}.{i % 7}.{i % 13}', ' '.join(random.choice(words) for _ in range(random.randint(3, 12)))]
        t.write('\t'.join(x.replace('\\', '\\\\') for x in row) + '\n')
        w.writerow(row)
PY
iconv -f utf-8 -t windows-1252 "$work/big.tsv" >"$work/big.1252.tsv"

cpu() {
  local best=
  for _ in 1 2 3 4 5; do
    /usr/bin/time -o "$work/time" -f '%U %S' "$CORVANE" "$@" -o /dev/null 2>/dev/null
    local t
    t=$(awk '{print $1 + $2}' "$work/time")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}
row() { printf '%-44s %6.2f s  %5.2fx\n' "$1" "$2" "$(awk "BEGIN{print $2 / $3}")"; }

cd "$work"
csv=$(cpu list-to-string --delim '|' -i big.csv)
tsv=$(cpu list-to-string --delim '|' --tsv -i big.tsv)
cp1252=$(cpu list-to-string --delim '|' --tsv --encoding windows-1252 -i big.1252.tsv)
plain=$(cpu list-to-formatted --row-delim '\n' --col-delim '</td><td>' --tsv -i big.tsv)
html=$(cpu list-to-formatted --row-delim '\n' --col-delim '</td><td>' --escape html --tsv -i big.tsv)
json=$(cpu list-to-formatted --row-delim '\n' --col-delim '", "' --escape json --tsv -i big.tsv)
echo "$ROWS rows, $(du -k big.tsv | cut -f1) KiB; CPU seconds, best of 5, and the ratio to the baseline"
row "list-to-string, CSV (baseline)" "$csv" "$csv"
row "list-to-string, TSV" "$tsv" "$csv"
row "list-to-string, TSV in Windows-1252 (vs TSV)" "$cp1252" "$tsv"
row "list-to-formatted, TSV (baseline)" "$plain" "$plain"
row "list-to-formatted, --escape html" "$html" "$plain"
row "list-to-formatted, --escape json" "$json" "$plain"
