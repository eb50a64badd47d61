# C-style escapes in option values: each one gives its character, literal
# UTF-8 passes as itself, and a malformed escape or a character the build
# cannot hold is refused with its position.
. "$(dirname "$0")/lib.sh"
list=$(input 'a,b\r\n1,2\r\n')

# escape CASE: option value -> the text between the cells 1 and 2.
while IFS='|' read -r value between; do
  [ -z "$value" ] && continue
  expect_text "--col-delim $value" "1${between}2" list-to-formatted --row-delim ';' --col-delim="$value" -i "$list"
done <<'CASES'
\n|\n
\r\n|\r\n
\t|\t
\\|\\
\"|"
\'|'
\x1F|\x1F
\x41\x42|AB
a\x2cb|a,b
\u{41}|A
\u{000041}|A
§|\xC2\xA7
\xA7|\xC2\xA7
\u{e9}|\xC3\xA9
-x-|-x-
CASES

# Characters beyond Latin-1: the Unicode build takes them, the 8-bit build
# says which one and where.
if unicode; then
  expect_text "--col-delim \\u{20AC}" '1\xE2\x82\xAC2' list-to-formatted --row-delim ';' --col-delim '\u{20AC}' -i "$list"
  expect_text "--col-delim \\u{1F600}" '1\xF0\x9F\x98\x802' list-to-formatted --row-delim ';' --col-delim '\u{1F600}' -i "$list"
  expect_text "--col-delim literal €" '1\xE2\x82\xAC2' list-to-formatted --row-delim ';' --col-delim '€' -i "$list"
else
  latin1='is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, or --raw-bytes to pass bytes unchanged)'
  expect_failure "--col-delim \\u{20AC}" 2 "--col-delim, character 2: U+20AC \"€\" $latin1" \
    list-to-formatted --row-delim ';' --col-delim 'x\u{20AC}' -i "$list"
  expect_failure "--col-delim literal €" 2 "--col-delim, character 2: U+20AC \"€\" $latin1" \
    list-to-formatted --row-delim ';' --col-delim 'é€' -i "$list"
fi

# Raw bytes: \xHH is that byte, literal bytes pass unchanged, nothing above 255.
expect_text "--raw-bytes, \\xA7" '1\xA72' list-to-formatted --raw-bytes --row-delim ';' --col-delim '\xA7' -i "$list"
expect_text "--raw-bytes, a literal UTF-8 sequence is two characters" '1\xC2\xA72' \
  list-to-formatted --raw-bytes --row-delim ';' --col-delim '§' -i "$list"
expect_failure "--raw-bytes, \\u{100}" 2 '--col-delim, character 1: U+0100 "Ā" does not fit in one byte' \
  list-to-formatted --raw-bytes --row-delim ';' --col-delim '\u{100}' -i "$list"

# The delimiter of the delimited commands, and the column names, take escapes too.
expect_text "--delim \\t" '1\t2\t' list-to-string --delim '\t' -i "$list"
expect_text "--delim \\xFC is 252" '1\xC3\xBC2\xC3\xBC' list-to-string --delim '\xFC' -i "$list"
expect_text "--columns with an escape" 'a b,c\n1,2\n' string-to-list --columns 'a\x20b,c' --delim , -i "$(input '1,2,')"

# Malformed escapes.
while IFS='|' read -r value message; do
  [ -z "$value" ] && continue
  expect_failure "--row-prefix $value" 2 "--row-prefix, $message" \
    list-to-formatted --row-delim ';' --col-delim , --row-prefix="$value" -i "$list"
done <<'CASES'
\q|character 1: unknown escape "\q"
ab\é|character 3: unknown escape "\é"
x\|character 2: a lone backslash at the end (write \\ for one backslash)
\x4|character 1: \x needs two hex digits
\xg0|character 1: \x needs two hex digits
\u41|character 1: \u needs braces, as in \u{20AC}
\u{}|character 1: \u{...} needs one to six hex digits and a closing brace
\u{41|character 1: \u{...} needs one to six hex digits and a closing brace
\u{1234567}|character 1: \u{...} needs one to six hex digits and a closing brace
\u{110000}|character 1: \u{110000} is not a code point
\|character 1: unknown escape "\\x01"
\u{D800}|character 1: \u{D800} is not a code point
a\x00|character 2: a zero character, which ends every string the plug-in handles
CASES

finish
