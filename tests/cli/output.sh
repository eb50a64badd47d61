# Output files are written whole or not at all: a failure leaves the path as
# it was and no partial or temporary file behind.
. "$(dirname "$0")/lib.sh"
list=$(input 'a,b\r\n1,2\r\n')
out=$WORK/out.d
mkdir -p "$out"

# no_leftovers DIR: nothing but what the test put there.
leftovers() { ls -A "$1" | grep -c 'corvane' ; }

expect_failure "a directory that does not exist" 4 "cannot write $out/missing/x.txt: No such file or directory" \
  list-to-string -i "$list" -o "$out/missing/x.txt"
check "  ... creates nothing" [ ! -e "$out/missing" ]
touch "$out/plain"
expect_failure "a file as the directory" 4 "cannot write $out/plain/x.txt: Not a directory" \
  list-to-string -i "$list" -o "$out/plain/x.txt"
mkdir "$out/dir"
expect_failure "a directory as the output" 4 "cannot write $out/dir: Is a directory" list-to-string -i "$list" -o "$out/dir"
check "  ... leaves no temporary file" [ "$(leftovers "$out")" -eq 0 ]
check "  ... leaves the directory empty" [ -z "$(ls -A "$out/dir")" ]

# A command that fails leaves an existing output file as it was.
printf 'keep me\n' >"$out/existing.txt"
expect_failure "a failing command" 1 "row and column delimiters are identical (result 3)" \
  list-to-formatted --row-delim , --col-delim , -i "$list" -o "$out/existing.txt"
check "  ... keeps the old file" [ "$(cat "$out/existing.txt")" = "keep me" ]
expect_failure "a bad input" 3 "$WORK/input.csv: line 2: 1 cell where the header has 2" \
  list-to-string -i "$(printf 'a,b\n1\n' >"$WORK/input.csv"; echo "$WORK/input.csv")" -o "$out/existing.txt"
check "  ... keeps the old file" [ "$(cat "$out/existing.txt")" = "keep me" ]
check "  ... and leaves no temporary file" [ "$(leftovers "$out")" -eq 0 ]

# Success replaces the file, keeping its permissions; a new file gets the umask's.
chmod 640 "$out/existing.txt"
expect_output "replacing a file" /dev/null list-to-string --delim '|' -i "$list" -o "$out/existing.txt"
check "  ... writes the new text" [ "$(cat "$out/existing.txt")" = "1|2|" ]
check "  ... keeps its permissions" [ "$(stat -c %a "$out/existing.txt")" = 640 ]
(umask 027 && cv list-to-string -i "$list" -o "$out/new.txt")
check "a new file follows the umask" [ "$(stat -c %a "$out/new.txt")" = 640 ]
check "  ... and leaves no temporary file" [ "$(leftovers "$out")" -eq 0 ]

# Devices are written directly; a full one is an error.
expect_failure "a full device" 4 "cannot write /dev/full: No space left on device" list-to-string -i "$list" -o /dev/full
cv list-to-string -i "$list" >/dev/full 2>"$WORK/err"
status=$?
check "standard output on a full device" [ "$status" -eq 4 -a "$(cat "$WORK/err")" = \
  "corvane: cannot write standard output: No space left on device" ]
expect_output "-o - is standard output" "$(input '1,2,')" list-to-string --delim , -i "$list" -o -
STDIN=$list expect_output "-i - is standard input" "$(input "1,2,")" list-to-string --delim , -i -

# Lists are written the same way.
printf 'keep me\n' >"$out/list.csv"
expect_failure "string-to-list failing" 1 "the input text is empty (result 3)" \
  string-to-list --columns a -i /dev/null -o "$out/list.csv"
check "  ... keeps the old file" [ "$(cat "$out/list.csv")" = "keep me" ]
expect_output "string-to-list to a file" /dev/null string-to-list --columns a --delim , -i "$(input 'x,')" -o "$out/list.csv"
check "  ... writes the list" [ "$(cat "$out/list.csv")" = "$(printf 'a\nx')" ]

finish
