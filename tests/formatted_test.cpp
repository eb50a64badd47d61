// ListToFormattedString and FormattedStringToList through the entry point,
// both builds: framed lists and texts both ways, the result code of each
// failure, growth, variant lists, host faults, round trips and the literal
// reference.
#include <random>

#include "FormattedOracle.h"
#include "PluginFixture.h"

namespace cvtest {
namespace {

using corvane::host::ascii;

const std::vector<std::u32string> kTwoColumns{U"c1", U"c2"};
// What setList leaves in a two-column list given one cell.
const Rows kUntouched{{U"untouched", U""}};
const Rows kOld{{U"old", U""}};
const Rows kTwoByTwo{{U"x1", U"y1"}, {U"x2", U"y2"}};

class Formatted : public PluginTest {
 protected:
  std::u32string render(const std::vector<std::u32string>& columns, const Rows& rows, const FormatStrings& f,
                        int* result, int params = 8) {
    host->setList(P1, columns, rows);
    setFormats(*host, f);
    *result = run(kLtfs, params);
    return host->text(P2);
  }
  Rows parse(const std::u32string& text, const std::vector<std::u32string>& columns, const FormatStrings& f,
             int* result, int params = 8) {
    host->setText(P1, text);
    host->setList(P2, columns, {{U"untouched"}});
    setFormats(*host, f);
    *result = run(kFstl, params);
    return host->list(P2).rows;
  }
  // The plug-in against the literal reference on one text.
  void expectAsLiteral(const std::u32string& text, size_t columns, const FormatStrings& f) {
    std::vector<std::u32string> names;
    for (size_t c = 0; c < columns; ++c) names.push_back(ascii("k" + std::to_string(c)));
    int result = -9;
    Rows rows = parse(text, names, f, &result);
    ParseOutcome want = literalParse(text, columns, f);
    ASSERT_EQ(result, want.result);
    if (!want.touched) {
      EXPECT_EQ(rows.at(0).at(0), U"untouched");
    } else if (want.result == 0) {
      EXPECT_EQ(rows, want.rows);
    } else {
      EXPECT_TRUE(rows.empty());
    }
  }
};

struct RenderCase {
  const char* what;
  FormatStrings f;
  Rows rows;
  std::u32string text;
};

TEST_P(Formatted, RendersFramesVariantListsAndEmptyCells) {
  const FormatStrings framed{U"[", U"]", U";", U"<", U">", U","};
  const RenderCase cases[] = {
      {"every format string", framed, kTwoByTwo, U"[<x1>,<y1>];[<x2>,<y2>]"},
      {"variant lists",
       {U"[", U"]", U";", U"VARIANT:(,{", U"VARIANT:),}", U","},
       kTwoByTwo,
       U"[(x1),{y1}];[(x2),{y2}]"},
      {"only colDelim", {U"", U"", U"", U"", U"", U","}, kTwoByTwo, U"x1,y1x2,y2"},
      {"one row", framed, {{U"a", U"b"}}, U"[<a>,<b>]"},
      {"no rows", framed, {}, U""},
      {"empty cells keep their frame", framed, {{U"", U"y"}}, U"[<>,<y>]"},
      {"the keyword only counts in colPrefix and colSuffix",
       {U"VARIANT:a,b", U"", U";", U"", U"", U","},
       {{U"1", U"2"}},
       U"VARIANT:a,b1,2"},
      {"a list that is not a variant list",
       {U"", U"", U";", U"variant:a,b", U" VARIANT:x", U","},
       {{U"1", U"2"}},
       U"variant:a,b1 VARIANT:x,variant:a,b2 VARIANT:x"},
      {"fewer entries than columns",
       {U"", U"", U";", U"VARIANT:<", U"VARIANT:", U","},
       {{U"1", U"2"}},
       U"<1,2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int result = -9;
    EXPECT_EQ(render(kTwoColumns, c.rows, c.f, &result), c.text);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(c.text, literalRender(c.rows, 2, c.f));
  }
  int result = -9;
  EXPECT_EQ(render({U"only"}, {{U"a"}, {U"b"}}, framed, &result), U"[<a>];[<b>]") << "one column";
}

TEST_P(Formatted, VariantListsKeep128EntriesAndNeverReuseOldOffsets) {
  std::vector<std::u32string> columns;
  Rows rows(1);
  std::u32string list = U"VARIANT:";
  for (int c = 0; c < 200; ++c) {
    columns.push_back(ascii("v" + std::to_string(c)));
    rows[0].push_back(U"");
  }
  for (int e = 0; e < 130; ++e) list += (e ? U"," : U"") + ascii(std::to_string(e % 10));
  const FormatStrings f{U"", U"", U";", list.substr(0, 255), U"", U"|"};
  int result = -9;
  std::u32string text = render(columns, rows, f, &result);
  ASSERT_EQ(result, 0);
  EXPECT_EQ(text, literalRender(rows, 200, f));
  // 123 entries fit in 255 characters; the columns after them get none.
  EXPECT_EQ(std::count(text.begin(), text.end(), U'|'), 199);

  // A later run with a shorter list does not see the earlier offsets.
  const FormatStrings shorter{U"", U"", U";", U"VARIANT:a", U"", U"|"};
  EXPECT_EQ(render(columns, rows, shorter, &result), U"a" + std::u32string(199, U'|'));
}

TEST_P(Formatted, ResultCodesOfListToFormattedString) {
  int result = -9;
  host->setText(P2, U"keep");
  render(kTwoColumns, kTwoByTwo, {U"[", U"]", U";", U"<", U">", U","}, &result, 7);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(host->text(P2), U"keep") << "seven parameters leave parameter 2 alone";
  for (const FormatStrings& same :
       {FormatStrings{U"", U"", U",", U"", U"", U","}, FormatStrings{U"a", U"b", U"", U"c", U"d", U""}}) {
    host->setText(P2, U"keep");
    EXPECT_EQ(render(kTwoColumns, kTwoByTwo, same, &result), U"");
    EXPECT_EQ(result, 3) << "identical delimiters";
  }
  host->faults().listDefinition = U"c1,nope";
  EXPECT_EQ(render(kTwoColumns, kTwoByTwo, {U"", U"", U";", U"", U"", U","}, &result), U"");
  EXPECT_EQ(result, 5);
}

TEST_P(Formatted, ParsesFramedTextsBackIntoRows) {
  const FormatStrings one{U"{", U"}", U";", U"[", U"]", U","};
  const FormatStrings two{U"", U"", U";", U"VARIANT:[,{", U"VARIANT:],}", U"/"};
  const FormatStrings plain{U"", U"", U";", U"", U"", U","};
  const Rows ab{{U"a", U"b"}, {U"x", U"y"}};
  struct Case {
    const char* what;
    std::u32string text;
    FormatStrings f;
    Rows rows;
  } cases[] = {
      {"every format string", U"{[a],[b]};{[x],[y]}", one, ab},
      {"with the final delimiter", U"{[a],[b]};{[x],[y]};", one, ab},
      {"variant lists without a row frame", U"[a]/{b};[x]/{y}", two, ab},
      {"plain", U"a,b;x,y", plain, ab},
      {"twice the final delimiter", U"a,b;x,y;;", plain, {{U"a", U"b"}, {U"x", U"y"}, {U"", U""}}},
      {"no row separator", U"a,b", plain, {{U"a", U"b"}}},
      {"a row with more cells", U"a,b,c;x,y", plain, {{U"a", U"b,c"}, {U"x", U"y"}}},
      {"a row with fewer cells", U"a;x,y", plain, {{U"a;x", U"y"}, {U"", U""}}},
      {"equal delimiters",
       U"a;b;x;y",
       {U"", U"", U";", U"", U"", U";"},
       {{U"a", U"b"}, {U"x", U"y"}, {U"", U""}, {U"", U""}}},
      {"a cell that begins with its prefix", U"{[[a],[b]}", one, {{U"a", U"b"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int result = -9;
    EXPECT_EQ(parse(c.text, kTwoColumns, c.f, &result), c.rows);
    EXPECT_EQ(result, 0);
    expectAsLiteral(c.text, 2, c.f);
  }
}

TEST_P(Formatted, ResultCodesOfFormattedStringToList) {
  const FormatStrings one{U"{", U"}", U";", U"[", U"]", U","};
  int result = -9;
  EXPECT_EQ(parse(U"{[a],[b]}", kTwoColumns, one, &result, 7), kUntouched);
  EXPECT_EQ(result, 3);
  EXPECT_EQ(parse(U"a,b", kTwoColumns, {U"", U"", U"", U"", U"", U","}, &result), kUntouched);
  EXPECT_EQ(result, 3) << "an empty rowDelim";
  EXPECT_EQ(parse(U"a,b", kTwoColumns, {U"", U"", U";", U"", U"", U""}, &result), kUntouched);
  EXPECT_EQ(result, 3) << "an empty colDelim";
  EXPECT_EQ(parse(U"", kTwoColumns, one, &result), Rows{});
  EXPECT_EQ(result, 3) << "an empty text; the list is cleared";
  EXPECT_EQ(parse(U"[a],[b]}", kTwoColumns, one, &result), Rows{});
  EXPECT_EQ(result, 3) << "the text must begin with rowStart";
  host->faults().listDefinition = U"";
  EXPECT_EQ(parse(U"{[a],[b]}", kTwoColumns, one, &result), kUntouched);
  EXPECT_EQ(result, 5);
  host->faults().listDefinition.reset();

  host->faults().lineCountDelta = -1;
  EXPECT_EQ(parse(U"{[a],[b]};{[x],[y]}", kTwoColumns, one, &result), (Rows{{U"", U""}}));
  EXPECT_EQ(result, 2) << "a line count read back different from R";
  host->faults().lineCountDelta = 0;
  host->faults().listOpHighBitsOnly = true;
  EXPECT_EQ(parse(U"{[a],[b]};{[x],[y]}", kTwoColumns, one, &result), (Rows{{U"a", U"b"}, {U"x", U"y"}}));
  EXPECT_EQ(result, 0);
}

TEST_P(Formatted, ParsingTrustsOnlyWhatTheHostsBlockHolds) {
  const FormatStrings one{U"{", U"}", U";", U"[", U"]", U","};
  const Rows ab{{U"a", U"b"}, {U"x", U"y"}};
  struct Case {
    const char* what;
    void (*fault)(corvane::host::HostFaults&);
    int result;
  } cases[] = {
      {"no handle back", [](auto& f) { f.dropHandle = true; }, 2},
      {"replaced handle", [](auto& f) { f.replaceHandle = true; }, 0},
      {"block just large enough", [](auto& f) { f.exactHandleSize = true; }, 0},
      {"more characters than announced", [](auto& f) { f.lengthShortBy = 10; }, 0},
      {"a length whose bytes overflow", [](auto& f) { f.forcedLength = 0x7FFFFFF0; }, 2},
      {"a negative length", [](auto& f) { f.forcedLength = -1; }, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host->faults() = {};
    c.fault(host->faults());
    int result = -9;
    Rows rows = parse(U"{[a],[b]};{[x],[y]}", kTwoColumns, one, &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(rows, c.result == 0 ? ab : Rows{});
  }
  // A length announced, then no character delivered: the list stays
  // cleared and the command succeeds.
  host->faults() = {};
  host->faults().forcedLength = 19;
  host->resetStats();
  int result = -9;
  EXPECT_EQ(parse(U"", kTwoColumns, one, &result), Rows{});
  EXPECT_EQ(result, 0);
  EXPECT_GT(host->faultCounts().fakedLengths, 0u);
  EXPECT_EQ(host->stats().cellsWritten, 0u);
}

// Allocation failures: the failing site, and what it gives.
TEST_P(Formatted, AllocationFailuresGiveTheirResultCodes) {
  Host h(withFaults());
  Faults faults(withFaults());
  h.load();
  const FormatStrings f{U"{", U"}", U";", U"VARIANT:[,<", U"]", U","};
  for (const char* site : {"column definition", "column references", "BigBuffer lock"}) {
    h.setList(P1, kTwoColumns, kTwoByTwo);
    setFormats(h, f);
    h.setText(P2, U"old");
    EXPECT_EQ(runFailingAt(h, faults, site, kLtfs, 8), 2) << site;
    EXPECT_EQ(h.text(P2), U"") << site;
  }
  // FormattedStringToList: a failure before the list is cleared leaves it
  // untouched; the text block, its lock or the per-column searchers leave
  // it cleared.
  const struct {
    const char* site;
    bool untouched;
  } parseCases[] = {{"column definition", true},
                    {"column references", true},
                    {"text handle", false},
                    {"text handle lock", false},
                    {"column searchers", false}};
  for (const auto& c : parseCases) {
    h.setText(P1, U"{[a],<b]};{[x],<y]}");
    h.setList(P2, kTwoColumns, {{U"old"}});
    setFormats(h, f);
    EXPECT_EQ(runFailingAt(h, faults, c.site, kFstl, 8), 2) << c.site;
    EXPECT_EQ(h.list(P2).rows, c.untouched ? kOld : Rows{}) << c.site;
  }
  h.execute();
  EXPECT_EQ(h.result(), 0);
  EXPECT_EQ(h.list(P2).rows, (Rows{{U"a", U"b"}, {U"x", U"y"}}));
}

// Growth of the BigBuffer: a text longer than its first threshold.
TEST_P(Formatted, TheBigBufferGrowsAndKeepsItsSize) {
  Host h(withFaults());
  Faults faults(withFaults());
  h.load();
  Rows rows;
  for (int r = 0; r < 260; ++r)  // 260 x 32,000 characters: over 8 MB in either build
    rows.push_back({std::u32string(32000, ch(U'\U0001D11E', static_cast<char32_t>('a' + r % 26))),
                    ascii(std::to_string(r))});
  const FormatStrings f{U"<tr>", U"</tr>", U"\n", U"<td>", U"</td>", U""};
  h.setList(P1, kTwoColumns, rows);
  setFormats(h, f);
  h.setCommand(kLtfs);
  h.setParamCount(8);
  faults.count();
  h.execute();
  ASSERT_EQ(h.result(), 0);
  const std::u32string want = literalRender(rows, 2, f);
  EXPECT_TRUE(h.text(P2) == want);
  EXPECT_GE(faults.passes("BigBuffer growth"), 1) << "at least one growth step";
  faults.count();
  h.execute();
  EXPECT_EQ(h.result(), 0);
  EXPECT_TRUE(h.text(P2) == want);
  EXPECT_EQ(faults.passes("BigBuffer growth"), 0) << "the grown size is kept";

  // The first growth: by half, by one step when that is refused, and the
  // lock of the grown (or, when both are refused, the old) block.
  enum Outcome { kWhole, kSoFar, kNothing };
  const struct {
    const char* what;
    std::vector<Faults::SitePass> fail;
    Outcome outcome;
  } cases[] = {
      {"the growth by half", {{"BigBuffer growth", 1}}, kWhole},
      {"the growth in both sizes", {{"BigBuffer growth", 1}, {"BigBuffer growth by a step", 1}}, kSoFar},
      {"the growth in both sizes and the lock",
       {{"BigBuffer growth", 1}, {"BigBuffer growth by a step", 1}, {"BigBuffer lock after growth", 1}},
       kNothing},
      {"the lock of the grown block", {{"BigBuffer lock after growth", 1}}, kNothing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Host g(withFaults());
    g.load();
    g.setList(P1, kTwoColumns, rows);
    setFormats(g, f);
    g.setCommand(kLtfs);
    g.setParamCount(8);
    ASSERT_TRUE(faults.fail(c.fail));
    g.execute();
    faults.off();
    const std::u32string text = g.text(P2);
    if (c.outcome == kWhole) {
      EXPECT_EQ(g.result(), 0);
      EXPECT_TRUE(text == want) << "grown by one step instead";
    } else if (c.outcome == kSoFar) {
      EXPECT_EQ(g.result(), 4);
      EXPECT_FALSE(text.empty());
      EXPECT_TRUE(want.compare(0, text.size(), text) == 0) << "the text built so far";
    } else {
      EXPECT_EQ(g.result(), 4);
      EXPECT_EQ(text, U"") << "no block could be locked again";
    }
  }
}

// Random lists whose cells cannot be mistaken for the frame come back whole.
TEST_P(Formatted, RandomListsRoundTrip) {
  std::mt19937 rng(777);
  const std::u32string frame = unicode() ? U"<>[]{}()#*\u00A7\U0001F4A9" : U"<>[]{}()#*\u00A7";
  auto frameText = [&](size_t most) {
    std::u32string s;
    for (size_t n = rng() % (most + 1); n > 0; --n) s += frame[rng() % frame.size()];
    return s;
  };
  auto variantList = [&](size_t entries) {
    std::u32string s = U"VARIANT:";
    for (size_t e = 0; e < entries; ++e) s += (e ? U"," : U"") + frameText(3);
    return s;
  };
  for (int round = 0; round < 60; ++round) {
    size_t columns = 1 + rng() % 12;
    FormatStrings f{frameText(4), frameText(4), U"\n" + frameText(2),
                    frameText(4), frameText(4), frameText(2) + U"|"};
    if (rng() % 2) f.colPrefix = variantList(columns);
    if (rng() % 2) f.colSuffix = variantList(columns + rng() % 3);
    std::vector<std::u32string> names;
    for (size_t c = 0; c < columns; ++c) names.push_back(ascii("n" + std::to_string(c)));
    Rows rows(1 + rng() % 20);
    for (auto& row : rows)
      for (size_t c = 0; c < columns; ++c) {
        std::u32string cell;
        for (size_t n = 1 + rng() % 8; n > 0; --n)
          cell += unicode() ? static_cast<char32_t>(0x4E00 + rng() % 0x5000)
                            : static_cast<char32_t>('a' + rng() % 26);
        row.push_back(cell);
      }
    SCOPED_TRACE(round);
    int result = -9;
    std::u32string text = render(names, rows, f, &result);
    ASSERT_EQ(result, 0);
    ASSERT_EQ(text, literalRender(rows, columns, f));
    EXPECT_EQ(parse(text, names, f, &result), rows);
    EXPECT_EQ(result, 0);
  }
}

// Texts of any shape: the plug-in finds what the literal algorithm finds.
TEST_P(Formatted, TextsOfAnyShapeParseAsTheLiteralAlgorithm) {
  std::mt19937 rng(4242);
  const std::u32string alphabet = U"ab;,[]{}";
  auto pick = [&](size_t most, const std::u32string& from) {
    std::u32string s;
    for (size_t n = rng() % (most + 1); n > 0; --n) s += from[rng() % from.size()];
    return s;
  };
  for (int round = 0; round < 400; ++round) {
    FormatStrings f{pick(2, alphabet), pick(2, alphabet), pick(2, alphabet) + U";",
                    pick(2, alphabet), pick(2, alphabet), pick(1, alphabet) + U","};
    if (rng() % 3 == 0) f.colPrefix = U"VARIANT:" + pick(5, alphabet);
    if (rng() % 3 == 0) f.colSuffix = U"VARIANT:" + pick(5, alphabet);
    std::u32string text = f.rowPrefix + pick(40, alphabet + U"\u0000");
    SCOPED_TRACE(testing::Message() << "round " << round);
    expectAsLiteral(text, 1 + rng() % 4, f);
  }
}

TEST_P(Formatted, SeparatorsOf1275CharactersThatNearlyMatchEverywhere) {
  const std::u32string a255(255, U'a');
  const std::u32string nearly = std::u32string(254, U'a') + U"b";
  const FormatStrings f{a255, nearly, a255, a255, nearly, nearly.substr(1) + U"c"};
  std::u32string text = a255 + std::u32string(20000, U'a') + U"b" + std::u32string(3000, U'a');
  expectAsLiteral(text, 3, f);
  const FormatStrings g{U"", U"", nearly, U"VARIANT:" + std::u32string(200, U'a'), U"", U"a"};
  expectAsLiteral(std::u32string(5000, U'a'), 2, g);
}

CORVANE_BOTH_BUILDS(Formatted);

}  // namespace
}  // namespace cvtest
