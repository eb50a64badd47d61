// ListToString and StringToList through the entry point, both builds: the
// delimited text, every result code, growth, host faults and round trips.
#include <random>

#include "PluginFixture.h"

namespace cvtest {
namespace {

using corvane::host::ascii;

class DelimitedText : public PluginTest {
 protected:
  std::u32string listToString(const std::vector<std::u32string>& columns, const Rows& rows,
                              std::optional<std::u32string> delimiter, int* result) {
    host->setList(P1, columns, rows);
    if (delimiter) host->setText(P3, *delimiter);
    *result = run(kLts, delimiter ? 3 : 2);
    return host->text(P2);
  }
  Rows stringToList(const std::u32string& text, const std::vector<std::u32string>& columns,
                    std::optional<std::u32string> delimiter, int* result) {
    host->setText(P1, text);
    host->setList(P2, columns, {{U"old"}});
    if (delimiter) host->setText(P3, *delimiter);
    *result = run(kStl, delimiter ? 3 : 2);
    return host->list(P2).rows;
  }
};

TEST_P(DelimitedText, EveryCellIsFollowedByTheDelimiter) {
  int result = -9;
  auto text = listToString({U"a", U"b"}, {{U"one", U"two"}, {U"three", U"four"}}, U",", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text, U"one,two,three,four,");

  const std::u32string d252(1, U'\u00FC');
  text = listToString({U"c"}, {{U"x"}, {U"y"}, {U"z"}}, std::nullopt, &result);
  EXPECT_EQ(text, U"x" + d252 + U"y" + d252 + U"z" + d252) << "the default delimiter is 252";
  text = listToString({U"c"}, {{U"x"}}, U"", &result);
  EXPECT_EQ(text, U"x" + d252) << "an empty third parameter keeps 252";
  text = listToString({U"c"}, {{U"x"}}, U";:", &result);
  EXPECT_EQ(text, U"x;") << "only the first character counts";
  text = listToString({U"a", U"b"}, {{U"", U""}, {U"p,q", U""}}, U",", &result);
  EXPECT_EQ(text, U",,p,q,,") << "empty cells give their delimiter; nothing is escaped";
  text = listToString({U"a"}, {}, U",", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text, U"");
}

TEST_P(DelimitedText, TwoParametersIgnoreAThirdValue) {
  host->setList(P1, {U"a"}, {{U"x"}});
  host->setText(P3, U",");
  EXPECT_EQ(run(kLts, 2), 0);
  EXPECT_EQ(host->text(P2), std::u32string(U"x\u00FC"));
}

TEST_P(DelimitedText, TheTextSplitsBackIntoLines) {
  int result = -9;
  EXPECT_EQ(stringToList(U"one,two,three,four,five,", {U"a", U"b"}, U",", &result),
            (Rows{{U"one", U"two"}, {U"three", U"four"}}));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(stringToList(U"x,y", {U"a"}, U",", &result), (Rows{{U"x"}}));
  EXPECT_EQ(stringToList(U",a,,b,", {U"a", U"b"}, U",", &result), (Rows{{U"", U"a"}, {U"", U"b"}}));
  EXPECT_EQ(stringToList(U"no delimiter", {U"a"}, U",", &result), Rows{});
  EXPECT_EQ(result, 0);
  EXPECT_EQ(stringToList(U"a,", {U"a", U"b"}, U",", &result), Rows{}) << "fewer than K";
  EXPECT_EQ(stringToList(U"a\u00FCb\u00FC", {U"a", U"b"}, std::nullopt, &result), (Rows{{U"a", U"b"}}));
  EXPECT_EQ(stringToList(U"", {U"a"}, U",", &result), Rows{});
  EXPECT_EQ(result, 3) << "an empty text is a bad parameter, and the list is cleared";
}

// Result codes that come from the parameters and the column definition.
struct CodeCase {
  const char* what;
  int params;
  std::optional<std::u32string> definition;  // raw column definition
  int lts, stl;
};

TEST_P(DelimitedText, ResultCodesOfParametersAndColumns) {
  std::u32string names400, names401;
  for (int i = 0; i < 401; ++i) {
    std::u32string name = ascii("c" + std::to_string(i));
    if (i < 400) names400 += (i ? U"," : U"") + name;
    names401 += (i ? U"," : U"") + name;
  }
  const CodeCase cases[] = {
      {"one parameter", 1, std::nullopt, 3, 3},
      {"no parameters", 0, std::nullopt, 3, 3},
      {"empty definition", 2, U"", 5, 5},
      {"unknown third name", 2, U"a,b,nope", 5, 5},
      {"trailing comma", 2, U"a,b,", 5, 5},
      {"400 columns", 2, names400, 0, 0},
      {"401 columns", 2, names401, 4, 4},
      {"400 columns and a trailing comma", 2, names400 + U",", 4, 4},
  };
  std::vector<std::u32string> columns{U"a", U"b"};
  for (int i = 0; i < 401; ++i) columns.push_back(ascii("c" + std::to_string(i)));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host->faults().listDefinition = c.definition;
    host->setList(P1, columns, {{U"x", U"y"}});
    host->setText(P2, U"untouched");
    EXPECT_EQ(run(kLts, c.params), c.lts);
    if (c.params < 2) {
      EXPECT_EQ(host->text(P2), U"untouched");
    }
    if (c.params >= 2 && c.lts != 0) {
      EXPECT_EQ(host->text(P2), U"") << "emptied before the columns";
    }

    host->setText(P1, U"x,y,");
    host->setList(P2, columns, {{U"keep"}});
    host->setText(P3, U",");
    EXPECT_EQ(run(kStl, c.params < 2 ? c.params : 3), c.stl);
    if (c.params < 2) {
      EXPECT_EQ(host->list(P2).rows.size(), 1u) << "too few parameters: untouched";
    }
    if (c.params >= 2 && c.stl != 0) {
      EXPECT_TRUE(host->list(P2).rows.empty()) << "cleared";
    }
  }
  // A parameter count outside the 32-bit range reads as none at all.
  host->faults() = {};
  for (double count : {1e12, -1e12}) {
    host->setList(P1, {U"a"}, {{U"x"}});
    host->setCommand(kLts);
    host->setNumber(kCvFieldParamCount, count);
    host->execute();
    EXPECT_EQ(host->result(), 3) << count;
  }
}

TEST_P(DelimitedText, StringToListAndTheHostsLineCount) {
  int result = -9;
  host->faults().lineCountDelta = 1;
  EXPECT_EQ(stringToList(U"a,b,", {U"a"}, U",", &result), (Rows{{U""}, {U""}, {U""}}));
  EXPECT_EQ(result, 2) << "a different count read back stops before any cell";
  host->faults().lineCountDelta = 0;
  host->faults().listOpHighBitsOnly = true;
  EXPECT_EQ(stringToList(U"a,b,", {U"a"}, U",", &result), (Rows{{U"a"}, {U"b"}}));
  EXPECT_EQ(result, 0) << "a false answer is not checked; the cells are stored anyway";
}

// How the host hands over the text (kind 4 then kind 8), and what it may do.
struct HandOver {
  const char* what;
  void (*fault)(corvane::host::HostFaults&);
  int result;
  bool filled;
};

TEST_P(DelimitedText, StringToListTrustsOnlyWhatTheHostsBlockHolds) {
  const HandOver cases[] = {
      {"plain", [](auto&) {}, 0, true},
      {"no handle back", [](auto& f) { f.dropHandle = true; }, 2, false},
      {"replaced handle", [](auto& f) { f.replaceHandle = true; }, 0, true},
      {"block just large enough", [](auto& f) { f.exactHandleSize = true; }, 0, true},
      {"more characters than announced", [](auto& f) { f.lengthShortBy = 3; }, 0, true},
      {"length whose bytes overflow", [](auto& f) { f.forcedLength = 0x7FFFFFFF; }, 2, false},
      {"negative length", [](auto& f) { f.forcedLength = -4; }, 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host->faults() = {};
    c.fault(host->faults());
    host->resetStats();
    int result = -9;
    Rows rows = stringToList(U"one,two,three,four,", {U"a", U"b"}, U",", &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(rows, c.filled ? (Rows{{U"one", U"two"}, {U"three", U"four"}}) : Rows{});
  }
  // A length announced, then no character delivered: the list stays
  // cleared and the command succeeds.
  host->faults() = {};
  host->faults().forcedLength = 19;
  host->resetStats();
  int result = -9;
  EXPECT_EQ(stringToList(U"", {U"a", U"b"}, U",", &result), Rows{});
  EXPECT_EQ(result, 0);
  EXPECT_GT(host->faultCounts().fakedLengths, 0u);
  EXPECT_EQ(host->stats().cellsWritten, 0u);
}

// Allocation, resize and lock failures reached through the entry point.
TEST_P(DelimitedText, AllocationFailuresGiveTheirResultCodes) {
  Host h(withFaults());
  Faults faults(withFaults());
  h.load();
  for (const char* site : {"column definition", "column references", "ScratchBuffer lock"}) {
    h.setList(P1, {U"a"}, {{U"x"}});
    h.setText(P2, U"old");
    EXPECT_EQ(runFailingAt(h, faults, site, kLts, 2), 2) << site;
    EXPECT_EQ(h.text(P2), U"") << site;
  }
  for (const char* site : {"column definition", "column references", "text handle", "text handle lock"}) {
    h.setText(P1, U"x,");
    h.setList(P2, {U"a"}, {{U"old"}});
    h.setText(P3, U",");
    EXPECT_EQ(runFailingAt(h, faults, site, kStl, 3), 2) << site;
    EXPECT_TRUE(h.list(P2).rows.empty()) << site;
  }
}

// A list whose text needs several growth steps of the ScratchBuffer.
Rows bigList(size_t rows, size_t width, char32_t base) {
  Rows out;
  for (size_t r = 0; r < rows; ++r) {
    std::u32string cell(width, base + static_cast<char32_t>(r % 26));
    out.push_back({cell, ascii(std::to_string(r))});
  }
  return out;
}

std::u32string expectedText(const Rows& rows, char32_t delimiter) {
  std::u32string text;
  for (const auto& row : rows)
    for (const auto& cell : row) text += cell + delimiter;
  return text;
}

TEST_P(DelimitedText, TheScratchBufferGrowsAndKeepsItsSize) {
  Host h(withFaults());
  Faults faults(withFaults());
  h.load();
  const Rows rows = bigList(900, 255, ch(U'\U0001F600', U'a'));  // well past 100,000 bytes
  h.setList(P1, {U"a", U"b"}, rows);
  h.setText(P3, U",");
  h.setCommand(kLts);
  h.setParamCount(3);
  faults.count();
  h.execute();
  ASSERT_EQ(h.result(), 0);
  EXPECT_EQ(h.text(P2), expectedText(rows, U','));
  EXPECT_GT(faults.passes("ScratchBuffer growth"), 1) << "several growth steps";
  EXPECT_EQ(faults.passes("ScratchBuffer lock after growth"), faults.passes("ScratchBuffer growth"));

  faults.count();
  h.execute();
  EXPECT_EQ(h.result(), 0);
  EXPECT_EQ(h.text(P2), expectedText(rows, U','));
  EXPECT_EQ(faults.passes("ScratchBuffer growth"), 0)
      << "the grown buffer is reused: no resize the second time";
}

// The first growth is by one step (32,500 to 64,500 bytes), so its resize
// has no fallback; the second is by half, and falls back to one step when
// the larger resize is refused.  A refused growth delivers the text so far;
// a grown block that cannot be locked again delivers nothing.
TEST_P(DelimitedText, AGrowthFallsBackToOneStepAndAFailedOneDeliversTheTextSoFarOrNothing) {
  const Rows rows = bigList(600, 200, ch(U'\u0416', U'k'));  // past 96,750 bytes in either build
  const std::u32string all = expectedText(rows, U';');
  enum Outcome { kWhole, kSoFar, kNothing };
  const struct {
    const char* what;
    std::vector<Faults::SitePass> fail;
    Outcome outcome;
  } cases[] = {
      {"the first growth", {{"ScratchBuffer growth", 1}}, kSoFar},
      {"the lock after the first growth", {{"ScratchBuffer lock after growth", 1}}, kNothing},
      {"the second growth by half", {{"ScratchBuffer growth", 2}}, kWhole},
      {"the second growth in both sizes",
       {{"ScratchBuffer growth", 2}, {"ScratchBuffer growth by a step", 1}},
       kSoFar},
      {"the second growth in both sizes and the lock",
       {{"ScratchBuffer growth", 2},
        {"ScratchBuffer growth by a step", 1},
        {"ScratchBuffer lock after growth", 2}},
       kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Host h(withFaults());
    Faults faults(withFaults());
    h.load();
    h.setList(P1, {U"a", U"b"}, rows);
    h.setText(P3, U";");
    h.setCommand(kLts);
    h.setParamCount(3);
    ASSERT_TRUE(faults.fail(c.fail));
    h.execute();
    faults.off();
    std::u32string text = h.text(P2);
    if (c.outcome == kWhole) {
      EXPECT_EQ(h.result(), 0);
      EXPECT_TRUE(text == all) << "grown by one step instead";
    } else if (c.outcome == kNothing) {
      EXPECT_EQ(h.result(), 4);
      EXPECT_TRUE(text.empty());
    } else {
      EXPECT_EQ(h.result(), 4);
      ASSERT_FALSE(text.empty());
      EXPECT_EQ(all.compare(0, text.size(), text), 0) << "a prefix of the whole text";
      EXPECT_EQ(text.back(), U';') << "ends with the cell just appended and its delimiter";
      EXPECT_GT(text.size() * (unicode() ? 4 : 1),
                size_t{kCvScratchInitialBytes - kCvScratchMarginBytes - (kCvListCellChars + 2) * 4});
    }
    // The instance is still usable.
    h.setList(P1, {U"a"}, {{U"z"}});
    h.execute();
    EXPECT_EQ(h.result(), 0);
    EXPECT_EQ(h.text(P2), U"z;");
  }
}

TEST_P(DelimitedText, CellsAreCutAtTheMaximumTheCommandPasses) {
  int result = -9;
  std::u32string longCell(300, ch(U'\U00010400', U'q'));
  auto text = listToString({U"a"}, {{longCell}, {U"b"}}, U",", &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(text, longCell.substr(0, 255) + U",b,");
}

// Random lists round-trip through both commands.
TEST_P(DelimitedText, RandomListsRoundTrip) {
  std::mt19937 rng(12345);
  const char32_t delimiter = U'\u00FC';
  auto randomChar = [&]() -> char32_t {
    for (;;) {
      char32_t c = unicode() ? static_cast<char32_t>(rng() % 0x110000) : static_cast<char32_t>(rng() % 256);
      if (c != 0 && c != delimiter) return c;
    }
  };
  for (size_t columnsCount : {1u, 2u, 7u, 400u}) {
    for (int round = 0; round < 3; ++round) {
      std::vector<std::u32string> columns;
      for (size_t c = 0; c < columnsCount; ++c) columns.push_back(ascii("col" + std::to_string(c)));
      Rows rows(1 + rng() % (columnsCount > 10 ? 5 : 60));
      for (auto& row : rows) {
        for (size_t c = 0; c < columnsCount; ++c) {
          size_t length = rng() % 4 == 0 ? 0 : rng() % 256;
          std::u32string cell;
          for (size_t i = 0; i < length; ++i) cell += randomChar();
          row.push_back(cell);
        }
      }
      int result = -9;
      std::u32string text = listToString(columns, rows, std::nullopt, &result);
      ASSERT_EQ(result, 0);
      ASSERT_EQ(text, expectedText(rows, delimiter));
      EXPECT_EQ(stringToList(text, columns, std::nullopt, &result), rows);
      EXPECT_EQ(result, 0);
    }
  }
}

TEST_P(DelimitedText, AMillionCellsRoundTrip) {
  Rows rows(100000);
  std::vector<std::u32string> columns;
  for (int c = 0; c < 10; ++c) columns.push_back(ascii("c" + std::to_string(c)));
  size_t n = 0;
  for (auto& row : rows)
    for (int c = 0; c < 10; ++c, ++n) {
      std::u32string cell = ascii(std::to_string(n % 9999991));
      cell.resize(10, ch(U'\u00E9', U'.'));
      row.push_back(cell);
    }
  int result = -9;
  std::u32string text = listToString(columns, rows, U"|", &result);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(text.size(), 1000000u * 11);
  EXPECT_TRUE(stringToList(text, columns, U"|", &result) == rows);
  EXPECT_EQ(result, 0);
}

CORVANE_BOTH_BUILDS(DelimitedText);

}  // namespace
}  // namespace cvtest
