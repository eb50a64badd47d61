# Memory pressure: under a ulimit -v lower than the input's size the
# program streams the input through and the outputs read back as the input
# was; where one batch cannot fit (batches asked larger than the memory, a
# text that holds no place to cut it) it stops with the out-of-memory
# message and status 4, and leaves no output file behind.  Registered for
# builds without AddressSanitizer only, which reserves terabytes of address
# space at start.
. "$(dirname "$0")/lib.sh"

# One job needs about 66 MB of address space here (its stack, the plug-in's
# 5 MB buffer, a batch and its table, the libraries); each further job
# reserves a heap arena and a stack of its own, so the limit holds one job.
LIMIT_KB=98304
OUT=$WORK/out.d
mkdir -p "$OUT"

python3 - "$WORK/big.csv" <<'EOF'
import sys
block = "".join('%d,cell %d of a row,"quoted, with a comma",Zürich\r\n' % (i, i * 7) for i in range(1000))
with open(sys.argv[1], "w", encoding="utf-8", newline="") as f:
    f.write("id,text,quoted,city\r\n")
    for _ in range(2200):
        f.write(block)
EOF
size=$(stat -c %s "$WORK/big.csv")
check "the input ($size bytes) is larger than the limit" test "$size" -gt $((LIMIT_KB * 1024))

# limited ARGS...: cv under the limit; leaves the status in $status and
# standard error in $WORK/err.
limited() {
  (
    ulimit -v "$LIMIT_KB" || exit 99
    cv "$@" --jobs 1 2>"$WORK/err"
  )
  status=$?
}

if unicode; then raw=(); else raw=(--raw-bytes); fi
fmt=(--row-prefix '<tr>' --row-suffix '</tr>' --row-delim '\n' --col-prefix '<td>' --col-suffix '</td>'
  --col-delim ' ')

# there_and_back NAME OUT BACK ARGS-THERE -- ARGS-BACK: both under the limit,
# the list read back is the input byte for byte.
there_and_back() {
  local name=$1 there=$OUT/$2 back=$OUT/$3
  shift 3
  local args=()
  while [ "$1" != -- ]; do
    args+=("$1")
    shift
  done
  shift
  limited "${args[@]}" -i "$WORK/big.csv" -o "$there"
  if [ "$status" -ne 0 ]; then
    fail "$name, there: exit status $status" "$(cat "$WORK/err")"
    return
  fi
  limited "$@" --columns-from "$WORK/big.csv" -i "$there" -o "$back"
  if [ "$status" -ne 0 ]; then
    fail "$name, back: exit status $status" "$(cat "$WORK/err")"
  elif [ -s "$WORK/err" ]; then
    fail "$name: standard error" "$(cat "$WORK/err")"
  elif ! cmp -s "$WORK/big.csv" "$back"; then
    fail "$name: the list read back differs" "$(cmp "$WORK/big.csv" "$back")"
  else
    pass
  fi
}

there_and_back "formatted, under ${LIMIT_KB} kB" big.html back.csv list-to-formatted "${raw[@]}" "${fmt[@]}" -- \
  formatted-to-list "${raw[@]}" "${fmt[@]}"
there_and_back "delimited, under ${LIMIT_KB} kB" big.txt back2.csv list-to-string "${raw[@]}" --delim '\x1F' -- \
  string-to-list "${raw[@]}" --delim '\x1F'
rm -f "$OUT/back.csv" "$OUT/back2.csv"

# out_of_memory NAME ARGS...: status 4, the message, and no file (nor a
# temporary one) where -o pointed.
out_of_memory() {
  local name=$1
  shift
  limited "$@" -o "$OUT/never"
  if [ "$status" -ne 4 ]; then
    fail "$name: exit status $status, expected 4" "$(head -c 300 "$WORK/err")"
  elif [ "$(cat "$WORK/err")" != "corvane: out of memory" ]; then
    fail "$name: message" "$(head -c 300 "$WORK/err")"
  elif [ -n "$(ls "$OUT" | grep -v '^big\.')" ]; then
    fail "$name: left a file behind" "$(ls "$OUT")"
  else
    pass
  fi
}

# More jobs than the memory holds: a worker thread that cannot start, a
# host call, a batch or the plug-in without memory.  Whatever gives out
# first, the run either completes with the one job's output or stops with
# status 4, one line that says memory ran out and no file; never a crash,
# nor another status.
head -n 40000 "$WORK/big.csv" >"$WORK/some.csv"
cv list-to-formatted "${raw[@]}" "${fmt[@]}" -i "$WORK/some.csv" -o "$WORK/some.html"
cv list-to-string "${raw[@]}" --delim '\x1F' -i "$WORK/some.csv" -o "$WORK/some.txt"
some=(--columns-from "$WORK/some.csv")
for jobs in 2 3 4 8 16; do
  for sub in list-to-formatted formatted-to-list list-to-string string-to-list; do
    case $sub in
      list-to-formatted) args=("${fmt[@]}" -i "$WORK/some.csv") expected=$WORK/some.html ;;
      formatted-to-list) args=("${fmt[@]}" "${some[@]}" -i "$WORK/some.html") expected=$WORK/some.csv ;;
      list-to-string) args=(--delim '\x1F' -i "$WORK/some.csv") expected=$WORK/some.txt ;;
      string-to-list) args=(--delim '\x1F' "${some[@]}" -i "$WORK/some.txt") expected=$WORK/some.csv ;;
    esac
    rm -f "$OUT/some.out"
    (
      ulimit -v "$LIMIT_KB" || exit 99
      cv "$sub" "${raw[@]}" "${args[@]}" --jobs "$jobs" -o "$OUT/some.out" 2>"$WORK/err"
    )
    status=$?
    message=$(grep -v '^corvane: warning: only [0-9]* of [0-9]* jobs could be started' "$WORK/err")
    if [ "$status" -eq 0 ] && [ -z "$message" ] && cmp -s "$OUT/some.out" "$expected"; then
      pass
    elif [ "$status" -eq 4 ] && [ ! -e "$OUT/some.out" ] && [ "$(printf '%s\n' "$message" | wc -l)" -eq 1 ] &&
      [[ $message =~ ^corvane:\ (out\ of\ memory|the\ plug-in\ ran\ out\ of\ memory|the\ plug-in\ could\ not\ set\ up\ its\ working\ memory|the\ text\ grew\ larger\ than\ the\ plug-in\ could\ make\ its\ buffer) ]]; then
      pass
    else
      fail "$sub --jobs $jobs under ${LIMIT_KB} kB: exit status $status" "$(head -c 300 "$WORK/err")"
    fi
  done
done
rm -f "$OUT/some.out"

whole=(--batch-bytes 1073741824 --batch-rows 1073741824)
out_of_memory "list-to-string, one batch for the whole list" list-to-string "${raw[@]}" "${whole[@]}" \
  -i "$WORK/big.csv"
out_of_memory "list-to-formatted, one batch for the whole list" list-to-formatted "${raw[@]}" "${fmt[@]}" \
  "${whole[@]}" -i "$WORK/big.csv"
# A text with no delimiter, and a formatted text with no row separator: no
# place to cut a batch before the end.
out_of_memory "string-to-list, a text without a delimiter" string-to-list "${raw[@]}" --delim '\x1E' \
  --columns a -i "$OUT/big.txt"
out_of_memory "formatted-to-list, a text without a row separator" formatted-to-list "${raw[@]}" \
  --row-delim '\x1E' --col-delim '</td> <td>' --columns a,b,c,d -i "$OUT/big.html"
finish
