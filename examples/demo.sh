#!/usr/bin/env bash
# Renders the bundled example table as an HTML table with the built corvane,
# then reads the HTML back into CSV and checks that it is the table again.
#   examples/demo.sh BUILD_DIR        (./build.sh demo runs it)
set -euo pipefail
build=${1:?usage: demo.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
corvane=$build/tools/corvane
csv=$here/elements.csv
format=$here/formats/html.fmt
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "\$ corvane list-to-formatted --format examples/formats/html.fmt -i examples/elements.csv"
"$corvane" list-to-formatted --format "$format" -i "$csv" -o "$work/elements.html"
cat "$work/elements.html"
echo
echo "\$ corvane formatted-to-list --format examples/formats/html.fmt --columns-from examples/elements.csv"
"$corvane" formatted-to-list --format "$format" --columns-from "$csv" -i "$work/elements.html" -o "$work/back.csv"
tr -d '\r' <"$work/back.csv"
echo
if cmp -s "$work/back.csv" "$csv"; then
  echo "The round trip gives examples/elements.csv back byte for byte."
else
  echo "The round trip differs from examples/elements.csv:" >&2
  diff "$csv" "$work/back.csv" >&2 || true
  exit 1
fi
