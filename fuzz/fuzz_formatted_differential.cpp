// FormattedStringToList against the literal parse of the tests, on small
// texts over a three-letter alphabet with short format strings built from
// the same letters, so that separators overlap, nearly match and run out;
// and ListToFormattedString followed by FormattedStringToList on random
// lists, compared with the literal rendering and parse.  Both builds, no
// faults: every run must agree with the reference exactly.
#include "FuzzFormats.h"

using namespace cvfuzz;

CVFUZZ_LOAD_PLUGINS_FIRST

namespace {

std::u32string small(FuzzedDataProvider& data, Chars& chars, size_t most) {
  return chars.text(data.ConsumeIntegralInRange<size_t>(0, most), U"ab;", false);
}

std::u32string smallColumnText(FuzzedDataProvider& data, Chars& chars) {
  if (data.ConsumeIntegralInRange<int>(0, 3) != 0) return small(data, chars, 3);
  std::u32string s = U"VARIANT:";
  const size_t entries = data.ConsumeIntegralInRange<size_t>(0, 5);
  for (size_t e = 0; e < entries; ++e) s += (e ? U"," : U"") + small(data, chars, 2);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  Setting setting;
  setting.unicode = (data.ConsumeIntegral<uint8_t>() & 1) != 0;
  Chars chars(data, setting.unicode);

  const bool roundTrip = data.ConsumeBool();
  const size_t columns = data.ConsumeIntegralInRange<size_t>(1, 5);
  FormatStrings f;
  f.rowPrefix = small(data, chars, 3);
  f.rowSuffix = small(data, chars, 3);
  f.rowDelim = small(data, chars, 3);
  f.colPrefix = smallColumnText(data, chars);
  f.colSuffix = smallColumnText(data, chars);
  f.colDelim = small(data, chars, 3);

  Run run(setting);
  Host& host = run.host();
  const std::vector<std::u32string> names = columnNames(columns);
  std::u32string text;
  if (roundTrip) {
    Rows list(data.ConsumeIntegralInRange<size_t>(0, 6), std::vector<std::u32string>(columns));
    for (auto& row : list)
      for (auto& cell : row) cell = small(data, chars, 4);
    host.setList(P1, names, list);
    setFormats(host, f);
    const int rendered = run.execute(kLtfs, 8);
    const FormatStrings read = f.asRead();
    CVFUZZ_CHECK_EQ(rendered, read.rowDelim == read.colDelim ? 3 : 0, "ListToFormattedString result");
    text = host.text(P2);
    if (rendered == 0) CVFUZZ_CHECK(text == cvtest::literalRender(list, columns, f), "the literal rendering");
  } else {
    text = chars.text(data.ConsumeIntegralInRange<size_t>(0, 80), U"ab;", true);
  }

  host.setText(P1, text);
  Rows before(1, std::vector<std::u32string>(columns));
  before[0][0] = U"untouched";
  host.setList(P2, names, before);
  setFormats(host, f);
  const int result = run.execute(kFstl, 8);
  expectLiteralParse(text, columns, f, result, host.list(P2).rows, before);
  return 0;
}
