// FormattedStringToList on random texts and six random format strings, both
// builds: "VARIANT:" lists of 0 to 300 entries, strings of 255 characters,
// embedded zero characters, separators that nearly match, 1 to 400
// columns.  Without faults, texts small enough for the quadratic literal
// parse are compared with it.
#include "FuzzFormats.h"

using namespace cvfuzz;

static int fuzzOne(FuzzedDataProvider& data, const Setting& setting, Chars& chars) {
  const bool large = largeInput(data);
  const size_t columns = columnCount(data, 5, large);
  const int params = data.ConsumeIntegralInRange<int>(7, 8);
  const std::u32string alphabet = U"[];,ab";
  const FormatStrings f = formatStrings(data, chars, alphabet);
  // The text: pieces of the format strings and of the alphabet, so that
  // separators occur whole and in part; the whole repeated.
  std::u32string piece;
  const std::u32string parts[] = {f.rowPrefix, f.rowSuffix, f.rowDelim, f.colPrefix, f.colSuffix, f.colDelim};
  while (data.remaining_bytes() > 0 && piece.size() < 20000) {
    const int what = data.ConsumeIntegralInRange<int>(0, 8);
    if (what < 6) {
      const std::u32string& part = parts[what];
      const size_t from = data.ConsumeIntegralInRange<size_t>(0, part.size());
      piece += part.substr(from, data.ConsumeIntegralInRange<size_t>(0, part.size() - from));
    } else {
      piece += chars.text(data.ConsumeIntegralInRange<size_t>(0, 6), alphabet, true);
    }
  }
  const size_t repeat =
      piece.size() > 2000 || data.ConsumeBool() ? 1 : data.ConsumeIntegralInRange<size_t>(1, large ? 500 : 8);
  std::u32string text;
  for (size_t i = 0; i < repeat; ++i) text += piece;

  Run run(setting);
  Host& host = run.host();
  host.setText(P1, text);
  const Rows untouched{std::vector<std::u32string>(columns, U"")};
  Rows before = untouched;
  before[0][0] = U"untouched";
  host.setList(P2, columnNames(columns), before);
  setFormats(host, f);
  const int result = run.execute(kFstl, params);
  if (!run.exact()) return 0;

  const Rows& rows = host.list(P2).rows;
  if (params < 8) {
    CVFUZZ_CHECK_EQ(result, 3, "fewer than 8 parameters");
    CVFUZZ_CHECK(rows == before, "the list is untouched");
    return 0;
  }
  if (text.size() * columns <= 40000) expectLiteralParse(text, columns, f, result, rows, before);
  return 0;
}

CVFUZZ_PLUGIN_TARGET(fuzzOne, true)
