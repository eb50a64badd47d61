// ListToString on random lists (1 to 400 columns, cells up to and past the
// 255 characters the command asks for) and delimiters, both builds.  Without
// faults the text must be every cell, cut at 255 characters, followed by the
// delimiter.
#include <algorithm>

#include "FuzzCommon.h"

using namespace cvfuzz;

static int fuzzOne(FuzzedDataProvider& data, const Setting& setting, Chars& chars) {
  const bool large = largeInput(data);
  const size_t columns = columnCount(data, 4, large);
  const int params = data.ConsumeIntegralInRange<int>(1, 4);
  const std::u32string third = chars.text(data.ConsumeIntegralInRange<size_t>(0, 3), U",;", true);
  const char32_t delimiter = params >= 3 && !third.empty() ? third[0] : char32_t{252};

  // Distinct rows drawn from the input, repeated to reach the growth of
  // the ScratchBuffer without a large input.
  const size_t distinct = data.ConsumeIntegralInRange<size_t>(0, 6);
  Rows rows;
  for (size_t r = 0; r < distinct; ++r) {
    std::vector<std::u32string> row;
    for (size_t c = 0; c < columns; ++c)
      row.push_back(chars.text(large ? chars.length(3, 300) : chars.length(3, 8), U"ab,", true));
    rows.push_back(std::move(row));
  }
  // at most about 20,000 cells
  const size_t most = 20000 / (rows.size() * columns + 1) + 1;
  const size_t repeat = data.ConsumeBool()
                            ? 1
                            : data.ConsumeIntegralInRange<size_t>(1, std::min<size_t>(large ? 200 : 4, most));
  Rows list;
  for (size_t i = 0; i < repeat; ++i) list.insert(list.end(), rows.begin(), rows.end());

  Run run(setting);
  Host& host = run.host();
  host.setList(P1, columnNames(columns), list);
  if (params >= 3) host.setText(P3, third);
  host.setText(P2, U"old");
  size_t built = 0;
  for (const auto& row : list)
    for (const auto& cell : row) built += std::min<size_t>(cell.size(), 255) + 1;
  run.built(built);
  const int result = run.execute(kLts, params);
  if (!run.exact()) return 0;

  if (params < 2) {
    CVFUZZ_CHECK_EQ(result, 3, "fewer than 2 parameters");
    CVFUZZ_CHECK(host.text(P2) == U"old", "parameter 2 untouched");
    return 0;
  }
  CVFUZZ_CHECK_EQ(result, 0, "ListToString succeeds");
  std::u32string want;
  for (const auto& row : list)
    for (const auto& cell : row) {
      const std::u32string cut = cell.substr(0, 255);
      want += cut.substr(0, cut.find(U'\0'));
      want += delimiter;
    }
  want = want.substr(0, want.find(U'\0'));  // the host takes the text up to its first zero
  CVFUZZ_CHECK(host.text(P2) == want, "the text is every cell and its delimiter");
  return 0;
}

CVFUZZ_PLUGIN_TARGET(fuzzOne, true)
