# Files read in batches: larger inputs across the program's read blocks,
# the cuts of a formatted text that must not be made, and failures half way
# through: the message names the place, the status says what went wrong,
# and no output file is left behind.
. "$(dirname "$0")/lib.sh"
ONE_CALL=(--batch-rows 1000000000 --batch-bytes 1000000000 --jobs 1)

# same_as_one_call NAME ARGS...: small batches on several jobs write what one call writes.
same_as_one_call() {
  local name=$1
  shift
  cv "$@" "${ONE_CALL[@]}" >"$WORK/one" 2>"$WORK/one.err"
  local one=$?
  cv "$@" --batch-rows 1 --jobs 3 >"$WORK/batched" 2>"$WORK/batched.err"
  local batched=$?
  if [ "$one" -eq "$batched" ] && cmp -s "$WORK/one" "$WORK/batched" && cmp -s "$WORK/one.err" "$WORK/batched.err"; then
    pass
  else
    fail "$name" "one call: $one $(head -c 200 "$WORK/one") $(cat "$WORK/one.err")" \
      "batches:  $batched $(head -c 200 "$WORK/batched") $(cat "$WORK/batched.err")"
  fi
}

# --- cuts a formatted text must not be made at ----------------------------------------
# A prefix that runs on past the rowDelim: in the whole text the empty cell
# before the cut is read with its prefix taken from the next row.
prefix=(--row-delim '[' --col-prefix '[[' --col-delim , --columns a)
expect_text "a prefix across the cut" 'a\nx\n[y\n[z[\n""\n""\n' formatted-to-list "${prefix[@]}" \
  --batch-rows 1 --jobs 2 -i "$(input '[[x[[[[[[y[[[[[[z')"
# A cell holding the row delimiter: the rows after it shift.
same_as_one_call "a cell holding the row delimiter" formatted-to-list --row-delim ';' --col-delim , \
  --columns a,b -i "$(input '1,2;x;y,3;4,5;6,7')"
same_as_one_call "a row one cell short" formatted-to-list --row-prefix '<' --row-suffix '>' --row-delim '\n' \
  --col-delim '|' --columns a,b,c -i "$(input '<1|2|3>\n<4|5>\n<6|7|8>\n<9|10|11>\n')"
same_as_one_call "a row one cell long, VARIANT lists" formatted-to-list --row-delim '\n' --col-delim ' ' \
  --col-prefix 'VARIANT:(,[' --col-suffix 'VARIANT:),]' --columns a,b \
  -i "$(input '(1) [2]\n(3) [4] [5]\n(6) [7]\n(8) [9]')"
same_as_one_call "text after the last row" formatted-to-list --row-suffix ';' --row-delim '\n' --col-delim , \
  --columns a -i "$(input '1;\n2;\n3;\ntail')"

# --- larger inputs: across read blocks, there and back on every job count ------------------
python3 - "$WORK/big.csv" <<'EOF'
import random, sys
rng = random.Random(7)
words = ["Zürich", "naïve", "façade", "Ελλάδα", "a,b", 'say "hi"', "line\nbreak", "", "x" * 200, "plain"]
with open(sys.argv[1], "w", encoding="utf-8", newline="") as f:
    f.write("id,text,more\r\n")
    for i in range(16000):
        cells = [str(i), rng.choice(words), rng.choice(words) + str(i)]
        f.write(",".join('"%s"' % c.replace('"', '""') if any(ch in c for ch in ',"\n') else c
                         for c in cells) + "\r\n")
EOF
fmt=(--row-prefix '<tr>' --row-suffix '</tr>' --row-delim '\n' --col-prefix '<td>' --col-suffix '</td>' --col-delim ' ')
if unicode; then raw=(); else raw=(--raw-bytes); fi
for jobs in 1 2; do
  if cv list-to-formatted "${raw[@]}" "${fmt[@]}" --jobs $jobs -i "$WORK/big.csv" -o "$WORK/big.html" &&
    cv formatted-to-list "${raw[@]}" "${fmt[@]}" --jobs $jobs --columns-from "$WORK/big.csv" -i "$WORK/big.html" \
      -o "$WORK/back.csv" && cmp -s "$WORK/big.csv" "$WORK/back.csv"; then
    pass
  else
    fail "a table of $(stat -c %s "$WORK/big.csv") bytes there and back, $jobs jobs"
  fi
done
cv list-to-formatted "${raw[@]}" "${fmt[@]}" "${ONE_CALL[@]}" -i "$WORK/big.csv" -o "$WORK/one.html"
check "  ... the text is the one call's" cmp -s "$WORK/one.html" "$WORK/big.html"
cv list-to-string "${raw[@]}" --delim '\x1F' -i "$WORK/big.csv" -o "$WORK/big.txt"
expect_output "string-to-list over read blocks" "$WORK/big.csv" string-to-list "${raw[@]}" --delim '\x1F' \
  --columns-from "$WORK/big.csv" -i "$WORK/big.txt"

# Another encoding, converted block by block: characters of two and four
# bytes cut by the ends of read blocks, one byte order mark at the start of
# a UTF-16 output whatever the batches and jobs.
if unicode; then
  iconv -f utf-8 -t gb18030 "$WORK/big.csv" >"$WORK/big.gb"
  iconv -f utf-8 -t utf-16 "$WORK/big.csv" >"$WORK/big.u16"
  iconv -f utf-8 -t gb18030 "$WORK/big.txt" >"$WORK/big.txt.gb"
  iconv -f utf-8 -t utf-16 "$WORK/one.html" >"$WORK/one.html.u16"
  expect_output "--encoding gb18030 over read blocks" "$WORK/big.txt.gb" list-to-string --delim '\x1F' \
    --encoding gb18030 --jobs 2 --batch-rows 999 -i "$WORK/big.gb"
  expect_output "--encoding utf-16 over read blocks" "$WORK/one.html.u16" list-to-formatted "${fmt[@]}" \
    --encoding utf-16 --jobs 2 --batch-rows 999 -i "$WORK/big.u16"
  expect_output "  ... and back" "$WORK/big.u16" formatted-to-list "${fmt[@]}" --encoding utf-16 --jobs 2 \
    --batch-rows 999 --columns-from "$WORK/big.u16" -i "$WORK/one.html.u16"
fi

# A character cut by the end of a read block (1 MiB) is read whole; a bad
# byte further on is reported at its line and character.
python3 - "$WORK/blocks.txt" "$WORK/bad.txt" <<'EOF'
import sys
text = ("é," * 100000 + "\n,") * 6  # two-byte characters: one of them straddles 1 MiB
open(sys.argv[1], "wb").write(text.encode())
open(sys.argv[2], "wb").write(text.encode() + b"ok,\nab\xff,")
EOF
if unicode; then
  cv string-to-list --delim , --columns a "${ONE_CALL[@]}" -i "$WORK/blocks.txt" >"$WORK/one.csv" 2>/dev/null
  expect_output "a character across two read blocks" "$WORK/one.csv" string-to-list --delim , --columns a \
    --batch-rows 7000 -i "$WORK/blocks.txt"
  expect_failure "a bad byte after the first read block" 3 "$WORK/bad.txt: line 8, character 3: invalid UTF-8 (byte 0xFF)" \
    string-to-list --delim , --columns a -i "$WORK/bad.txt" -o "$WORK/bad.csv"
  check "  ... leaves no output file" [ ! -e "$WORK/bad.csv" ] && [ -z "$(ls -A "$WORK" | grep corvane)" ]
fi

# --- failures half way ---------------------------------------------------------------------
# A malformed record in a later batch: its line, status 3, the old file kept.
{ printf 'a,b\n'; for i in $(seq 1 30); do printf '%s,%s\n' $i $i; done; printf '31\n32,32\n'; } >"$WORK/late.csv"
printf 'keep me\n' >"$WORK/kept.txt"
expect_failure "a short record in batch 16" 3 "$WORK/late.csv: line 32: 1 cell where the header has 2" \
  list-to-string --batch-rows 2 --jobs 2 -i "$WORK/late.csv" -o "$WORK/kept.txt"
check "  ... keeps the old file" [ "$(cat "$WORK/kept.txt")" = "keep me" ]
check "  ... leaves no temporary file" [ -z "$(ls -A "$WORK" | grep corvane)" ]
if ! unicode; then
  printf 'w\nLille\nParis\nŁódź\n' >"$WORK/latin.csv"
  expect_failure "a character the build cannot hold, in batch 3" 3 \
    "$WORK/latin.csv: line 4: column \"w\": U+0141 \"Ł\" is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, or --raw-bytes to pass bytes unchanged)" \
    list-to-string --batch-rows 1 -i "$WORK/latin.csv" -o "$WORK/latin.txt"
  check "  ... writes no file" [ ! -e "$WORK/latin.txt" ]
fi

# A full device and a reader that goes away, after batches were written.
expect_failure "a full device" 4 "cannot write /dev/full: No space left on device" \
  list-to-string "${raw[@]}" --batch-rows 100 -i "$WORK/big.csv" -o /dev/full
cv list-to-formatted "${raw[@]}" "${fmt[@]}" --batch-rows 100 -i "$WORK/big.csv" 2>"$WORK/err" | head -c 10 >/dev/null
status=${PIPESTATUS[0]}
check "a closed pipe" [ "$status" -eq 4 -a "$(cat "$WORK/err")" = "corvane: cannot write standard output: Broken pipe" ]

# Inputs that cannot be read, before anything is written.
expect_failure "a directory as the input" 4 "cannot read $WORK: Is a directory" \
  list-to-string -i "$WORK" -o "$WORK/dir.txt"
check "  ... writes no file" [ ! -e "$WORK/dir.txt" ]
expect_failure "a missing text" 4 "cannot read $WORK/none.txt: No such file or directory" \
  formatted-to-list --row-delim ';' --col-delim , --columns a -i "$WORK/none.txt" -o "$WORK/none.csv"
check "  ... writes no file" [ ! -e "$WORK/none.csv" ]

finish
