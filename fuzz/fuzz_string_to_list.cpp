// StringToList on random texts, delimiters and column counts, both builds.
// Without faults the list must hold exactly the first (D / K) x K cells of
// the text, each up to its delimiter (or an earlier zero character).
#include <algorithm>

#include "FuzzCommon.h"

using namespace cvfuzz;

static int fuzzOne(FuzzedDataProvider& data, const Setting& setting, Chars& chars) {
  const bool large = largeInput(data);
  const size_t columns = columnCount(data, 4, large);
  // parameter 3: absent, empty, or a text whose first character counts
  const int params = data.ConsumeIntegralInRange<int>(1, 4);
  const std::u32string third = chars.text(data.ConsumeIntegralInRange<size_t>(0, 3), U",;", true);
  char32_t delimiter = params >= 3 && !third.empty() ? third[0] : char32_t{252};
  // the text: a piece over an alphabet that holds the delimiter, repeated
  const std::u32string alphabet = std::u32string(1, delimiter) + U"ab" + std::u32string(1, delimiter);
  const std::u32string piece =
      chars.text(large ? chars.length(40, 2000) : chars.length(40, 300), alphabet, true);
  // at most about 64,000 characters: long enough to matter, short enough to
  // keep the runs quick
  const size_t most = 64000 / (piece.size() + 1) + 1;
  const size_t repeat = data.ConsumeBool()
                            ? 1
                            : data.ConsumeIntegralInRange<size_t>(1, std::min<size_t>(large ? 300 : 8, most));
  std::u32string text;
  for (size_t i = 0; i < repeat; ++i) text += piece;

  Run run(setting);
  Host& host = run.host();
  host.setText(P1, text);
  const std::vector<std::u32string> names = columnNames(columns);
  host.setList(P2, names, {{U"old"}});
  if (params >= 3) host.setText(P3, third);
  const int result = run.execute(kStl, params);
  if (!run.exact()) return 0;

  if (params < 2) {
    CVFUZZ_CHECK_EQ(result, 3, "fewer than 2 parameters");
    CVFUZZ_CHECK(host.list(P2).rows.size() == 1, "the list is untouched");
    return 0;
  }
  const Rows& rows = host.list(P2).rows;
  if (text.empty()) {
    CVFUZZ_CHECK_EQ(result, 3, "an empty text");
    CVFUZZ_CHECK(rows.empty(), "the list is cleared");
    return 0;
  }
  CVFUZZ_CHECK_EQ(result, 0, "StringToList succeeds");
  std::vector<std::u32string> cells;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != delimiter) continue;
    const std::u32string cell = text.substr(start, i - start);
    cells.push_back(cell.substr(0, cell.find(U'\0')));
    start = i + 1;
  }
  const size_t expectedRows = cells.size() / columns;
  CVFUZZ_CHECK_EQ(rows.size(), expectedRows, "D / K lines");
  for (size_t r = 0; r < expectedRows; ++r)
    for (size_t c = 0; c < columns; ++c)
      if (rows[r][c] != cells[r * columns + c])
        fail("a cell differs", static_cast<long long>(r), static_cast<long long>(c));
  return 0;
}

CVFUZZ_PLUGIN_TARGET(fuzzOne, true)
