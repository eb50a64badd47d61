// ListToFormattedString on random lists (1 to 400 columns, cells up to and
// past the 32,000 characters the command asks for) and random format
// strings, both builds.  Without faults the text must be the literal
// rendering, and equal delimiters must give result 3.
#include <algorithm>

#include "FuzzFormats.h"

using namespace cvfuzz;

static int fuzzOne(FuzzedDataProvider& data, const Setting& setting, Chars& chars) {
  const bool large = largeInput(data);
  const size_t columns = columnCount(data, 4, large);
  const int params = data.ConsumeIntegralInRange<int>(7, 8);
  const FormatStrings f = formatStrings(data, chars, U"<>,;");

  // A few distinct rows, one of their cells possibly long (a run of one
  // character up to 40,000), repeated.
  const size_t distinct = data.ConsumeIntegralInRange<size_t>(0, 4);
  Rows rows;
  for (size_t r = 0; r < distinct; ++r) {
    std::vector<std::u32string> row;
    for (size_t c = 0; c < columns; ++c) row.push_back(chars.text(chars.length(3, 300), U"ab,;", true));
    if (large && columns > 0 && data.ConsumeIntegralInRange<int>(0, 7) == 0) {
      const size_t run = data.ConsumeIntegralInRange<size_t>(31990, 40000);
      row[data.ConsumeIntegralInRange<size_t>(0, columns - 1)] = std::u32string(run, chars.one(U"xy", false));
    }
    rows.push_back(std::move(row));
  }
  // at most about 20,000 cells and 8,000,000 characters: enough to grow the
  // BigBuffer past its first 5,306,880 bytes in either build
  size_t rowChars = 1;
  for (const auto& row : rows)
    for (const auto& cell : row) rowChars += cell.size();
  const size_t most = std::min<size_t>(20000 / (rows.size() * columns + 1), 8000000 / rowChars) + 1;
  const size_t repeat = data.ConsumeBool()
                            ? 1
                            : data.ConsumeIntegralInRange<size_t>(1, std::min<size_t>(large ? 200 : 4, most));
  Rows list;
  for (size_t i = 0; i < repeat; ++i) list.insert(list.end(), rows.begin(), rows.end());

  Run run(setting);
  Host& host = run.host();
  host.setList(P1, columnNames(columns), list);
  setFormats(host, f);
  host.setText(P2, U"old");
  const int result = run.execute(kLtfs, params);
  if (!run.exact()) return 0;

  if (params < 8) {
    CVFUZZ_CHECK_EQ(result, 3, "fewer than 8 parameters");
    CVFUZZ_CHECK(host.text(P2) == U"old", "parameter 2 untouched");
    return 0;
  }
  const FormatStrings read = f.asRead();
  if (read.rowDelim == read.colDelim) {
    CVFUZZ_CHECK_EQ(result, 3, "rowDelim equal to colDelim");
    CVFUZZ_CHECK(host.text(P2).empty(), "parameter 2 emptied");
    return 0;
  }
  CVFUZZ_CHECK_EQ(result, 0, "ListToFormattedString succeeds");
  Rows cut = list;
  for (auto& row : cut)
    for (auto& cell : row) cell = uptoZero(cell.substr(0, 32000));
  CVFUZZ_CHECK(host.text(P2) == cvtest::literalRender(cut, columns, f), "the text as the literal rendering");
  return 0;
}

CVFUZZ_PLUGIN_TARGET(fuzzOne, true)
