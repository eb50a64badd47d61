// Every misbehaviour our host can simulate, on every command that meets it,
// both builds: the result code the failure gives, the list or text the command
// leaves, nothing written past a block (the sanitizer build), nothing kept
// (heap count here, LeakSanitizer there), and the fault really happened.
#include <functional>

#include "FormattedOracle.h"
#include "HeapCheck.h"
#include "PluginFixture.h"

namespace cvtest {
namespace {

using corvane::host::ascii;
using corvane::host::HostFaultCounts;
using corvane::host::HostFaults;

const std::vector<std::u32string> kColumns{U"a", U"b", U"c"};
const FormatStrings kFormats{U"{", U"}", U";", U"VARIANT:[,<,(", U"VARIANT:],>,)", U","};

// 300 rows of three cells: texts of several kilobytes, so that a block kept
// by the plug-in shows in the heap count.
Rows sampleRows() {
  Rows rows;
  for (int r = 0; r < 300; ++r)
    rows.push_back({ascii("r" + std::to_string(r)), U"", ascii(std::string(r % 7, 'z'))});
  return rows;
}

std::u32string delimited(const Rows& rows) {
  std::u32string text;
  for (const auto& row : rows)
    for (const auto& cell : row) text += cell + U"|";
  return text;
}

// One fault on one of the two commands that take a whole text from the
// host and fill a list.
struct TextFault {
  const char* what;
  std::function<void(HostFaults&)> set;
  std::function<uint64_t(const HostFaultCounts&)> fired;
  int result;
  // The lines the list has afterwards: -1 the full list, otherwise that
  // many empty lines.
  long lines;
  long extraLines = 0;  // lines the host added beyond the text's (full list only)
};

const TextFault kTextFaults[] = {
    {"DoListOp answers false (only high bits set)", [](HostFaults& f) { f.listOpHighBitsOnly = true; },
     [](const HostFaultCounts& c) { return c.listOpHighBits; }, 0, -1},
    {"DoListOp answers false and sets one line more",
     [](HostFaults& f) {
       f.listOpHighBitsOnly = true;
       f.lineCountDelta = 1;
     },
     [](const HostFaultCounts& c) { return c.lineCountDeltas; }, 0, -1, 1},
    {"a line count read back one more", [](HostFaults& f) { f.lineCountDelta = 1; },
     [](const HostFaultCounts& c) { return c.lineCountDeltas; }, 2, 301},
    {"a line count read back one less", [](HostFaults& f) { f.lineCountDelta = -1; },
     [](const HostFaultCounts& c) { return c.lineCountDeltas; }, 2, 299},
    {"no handle after the kind 8 read", [](HostFaults& f) { f.dropHandle = true; },
     [](const HostFaultCounts& c) { return c.droppedHandles; }, 2, 0},
    {"a replaced handle after the kind 8 read", [](HostFaults& f) { f.replaceHandle = true; },
     [](const HostFaultCounts& c) { return c.replacedHandles; }, 0, -1},
    {"a block left just large enough", [](HostFaults& f) { f.exactHandleSize = true; },
     [](const HostFaultCounts& c) { return c.exactHandles; }, 0, -1},
    {"more characters delivered than announced", [](HostFaults& f) { f.lengthShortBy = 1000; },
     [](const HostFaultCounts& c) { return c.fakedLengths; }, 0, -1},
    {"more characters than announced, in a block just large enough",
     [](HostFaults& f) {
       f.lengthShortBy = 1000;
       f.exactHandleSize = true;
     },
     [](const HostFaultCounts& c) { return c.exactHandles; }, 0, -1},
    {"more characters than announced, in a replaced block",
     [](HostFaults& f) {
       f.lengthShortBy = 1000;
       f.replaceHandle = true;
     },
     [](const HostFaultCounts& c) { return c.replacedHandles; }, 0, -1},
    {"all characters but one unannounced", [](HostFaults& f) { f.forcedLength = 1; },
     [](const HostFaultCounts& c) { return c.fakedLengths; }, 0, -1},
};

class HostFaultMatrix : public PluginTest {
 protected:
  // Runs the command on a fresh instance of `h`, three times (the heap
  // count settles), and checks the last run.
  void check(int32_t command, const std::function<void(Host&)>& prepare, const TextFault& fault,
             const Rows& full) {
    SCOPED_TRACE(fault.what);
    Host h(shipped());
    int result = -9;
    uint64_t fired = 0;
    uint64_t written = 0;
    const long long growth = heapGrowth([&] {
      prepare(h);
      h.faults() = HostFaults{};
      fault.set(h.faults());
      h.load();
      h.resetStats();
      h.setCommand(command);
      h.execute();
      result = h.result();
      fired = fault.fired(h.faultCounts());
      written = h.stats().cellsWritten;
      h.unload();
    });
    EXPECT_LE(growth, static_cast<long long>(kHeapNoise)) << "bytes kept by the plug-in";
    EXPECT_GT(fired, 0u) << "the fault happened";
    EXPECT_EQ(result, fault.result);
    const Rows& rows = h.list(P2).rows;
    if (fault.lines < 0) {
      Rows want = full;
      want.resize(full.size() + static_cast<size_t>(fault.extraLines), std::vector<std::u32string>(3));
      EXPECT_EQ(rows, want);
    } else {
      EXPECT_EQ(rows, Rows(static_cast<size_t>(fault.lines), std::vector<std::u32string>(3)));
      EXPECT_EQ(written, 0u) << "no cell is stored after a failure";
    }
  }
};

TEST_P(HostFaultMatrix, StringToListMeetsEveryHostFault) {
  const Rows full = sampleRows();
  for (const TextFault& fault : kTextFaults) {
    check(
        kStl,
        [&](Host& h) {
          h.setText(P1, delimited(full));
          h.setText(P3, U"|");
          h.setList(P2, kColumns, {{U"old"}});
          h.setParamCount(3);
        },
        fault, full);
  }
}

TEST_P(HostFaultMatrix, FormattedStringToListMeetsEveryHostFault) {
  const Rows full = sampleRows();
  for (const TextFault& fault : kTextFaults) {
    check(
        kFstl,
        [&](Host& h) {
          h.setText(P1, literalRender(full, 3, kFormats));
          h.setList(P2, kColumns, {{U"old"}});
          setFormats(h, kFormats);
          h.setParamCount(8);
        },
        fault, full);
  }
}

// Cells longer than the maximum the command passes: the host cuts them
// there, and the command takes what it was given, whole.
TEST_P(HostFaultMatrix, CellsLongerThanTheMaximumAreCutByTheHost) {
  const char32_t wide = ch(U'\U0010FFFF', U'\xFF');
  Host h(shipped());
  h.load();
  h.setList(P1, {U"a", U"b"}, {{std::u32string(300, wide), U"x"}, {std::u32string(256, U'y'), U""}});
  h.setText(P3, U",");
  h.setCommand(kLts);
  h.setParamCount(3);
  h.execute();
  EXPECT_EQ(h.result(), 0);
  EXPECT_EQ(h.text(P2), std::u32string(255, wide) + U",x," + std::u32string(255, U'y') + U",,");
  EXPECT_EQ(h.stats().cellsRead, 4u);

  h.setList(P1, {U"a", U"b"}, {{std::u32string(40000, wide), U"x"}, {std::u32string(32001, U'y'), U""}});
  for (int16_t i = 0; i < 6; ++i)
    h.setText(static_cast<int16_t>(P3 + i), i == 2 ? U";" : i == 5 ? U"," : U"");
  h.setCommand(kLtfs);
  h.setParamCount(8);
  h.execute();
  EXPECT_EQ(h.result(), 0);
  EXPECT_EQ(h.text(P2), std::u32string(32000, wide) + U",x;" + std::u32string(32000, U'y') + U",");
}

// Names whose definition is exactly 64,000 bytes, terminator included, in
// the build's characters: 400 names of 159 (8-bit) or 39 (Unicode)
// characters and 399 commas.
std::vector<std::u32string> namesFilling64000(bool unicode) {
  const size_t length = unicode ? 39 : 159;
  std::vector<std::u32string> names;
  for (int i = 0; i < kCvMaxColumns; ++i) {
    std::u32string name = ascii(std::to_string(i));
    name += std::u32string(length - name.size(), U'n');
    names.push_back(name);
  }
  return names;
}

TEST_P(HostFaultMatrix, AColumnDefinitionOfExactly64000Bytes) {
  const std::vector<std::u32string> names = namesFilling64000(unicode());
  const std::u32string definition = corvane::host::join(names, U',');
  ASSERT_EQ((definition.size() + 1) * (unicode() ? 4 : 1), size_t{kCvDefinitionBytes});
  std::vector<std::u32string> row(kCvMaxColumns);
  for (size_t c = 0; c < row.size(); ++c) row[c] = ascii(std::to_string(c));
  const Rows rows{row, row};

  Host h(shipped());
  h.load();
  // ListToString reads every column.
  h.setList(P1, names, rows);
  h.setText(P3, U",");
  h.setCommand(kLts);
  h.setParamCount(3);
  h.execute();
  ASSERT_EQ(h.result(), 0);
  const std::u32string text = h.text(P2);
  EXPECT_EQ(std::count(text.begin(), text.end(), U','), 800);
  // StringToList gives the same list back.
  h.setText(P1, text);
  h.setList(P2, names, {});
  h.setCommand(kStl);
  h.execute();
  ASSERT_EQ(h.result(), 0);
  EXPECT_EQ(h.list(P2).rows, rows);
  // The formatted commands round-trip it too.
  h.setList(P1, names, rows);
  for (int16_t i = 0; i < 6; ++i)
    h.setText(static_cast<int16_t>(P3 + i), i == 2 ? U";" : i == 5 ? U"," : U"");
  h.setCommand(kLtfs);
  h.setParamCount(8);
  h.execute();
  ASSERT_EQ(h.result(), 0);
  h.setText(P1, h.text(P2));
  h.setList(P2, names, {});
  h.setCommand(kFstl);
  h.execute();
  ASSERT_EQ(h.result(), 0);
  EXPECT_EQ(h.list(P2).rows, rows);

  // A host asked for a longer definition writes as much as the buffer
  // holds, terminator included; the plug-in reads no further.
  h.setList(P1, names, rows);
  h.faults().listDefinition = definition + U",more,names";
  h.setCommand(kLts);
  h.setParamCount(3);
  h.setText(P3, U",");
  h.execute();
  EXPECT_EQ(h.result(), 0);
  EXPECT_EQ(h.text(P2), text);
  EXPECT_GT(h.faultCounts().forcedDefinitions, 0u);
  // The last name changed within the buffer names no column.
  std::u32string unknown = definition;
  unknown.back() = U'x';
  h.faults().listDefinition = unknown;
  h.execute();
  EXPECT_EQ(h.result(), 5);
}

// A host that writes past the maximum it is given (format strings, cells,
// the delimiter's short string, the column definition) as far as the
// plug-in's buffers allow: every command gives exactly what it gives with a
// host that obeys.
TEST_P(HostFaultMatrix, AHostThatIgnoresMaximaGetsWhatAnObeyingHostGets) {
  // Format strings of 300 characters whose characters 256 to 258 differ from
  // the rest; the suffix list has entries past character 255.
  auto longer = [](std::u32string head, char32_t fill) {
    head += std::u32string(255 - head.size(), fill);
    return head + U"XYZ" + std::u32string(42, fill);
  };
  std::u32string suffixes = U"VARIANT:";
  while (suffixes.size() < 300) suffixes += U">,";
  const std::vector<std::u32string> formats{longer(U"<", U'p'), longer(U">", U's'), longer(U";", U'd'),
                                            longer(U"[", U'q'), suffixes,           longer(U",", U'c')};
  const char32_t wide = ch(U'\U0010FFFF', U'\xFF');
  const Rows cells{{std::u32string(300, wide), U"x"}, {std::u32string(32010, U'y'), U""}};
  Rows cut = cells;
  cut[1][0].resize(32000);
  const FormatStrings asRead =
      FormatStrings{formats[0], formats[1], formats[2], formats[3], formats[4], formats[5]}.asRead();
  const std::u32string rendered = literalRender(cut, 2, asRead);
  const std::u32string delimiter = U"|" + std::u32string(299, U'#');
  const std::vector<std::u32string> names = namesFilling64000(unicode());
  const Rows wideRows{std::vector<std::u32string>(kCvMaxColumns, U"v")};

  struct Case {
    const char* what;
    int32_t overrunBy;  // what the plug-in's buffer for the read allows
    std::function<void(Host&)> run;
  };
  auto formatted = [&](Host& h) {
    for (int16_t i = 0; i < 6; ++i) h.setText(static_cast<int16_t>(P3 + i), formats[static_cast<size_t>(i)]);
    h.setParamCount(8);
  };
  const Case cases[] = {
      // Slots of 258 characters: 257 and the terminator fit.
      {"ListToFormattedString", 2,
       [&](Host& h) {
         h.setList(P1, {U"a", U"b"}, cells);
         formatted(h);
         h.setCommand(kLtfs);
         h.execute();
       }},
      {"FormattedStringToList", 2,
       [&](Host& h) {
         h.setText(P1, rendered);
         formatted(h);
         h.setList(P2, {U"a", U"b"});
         h.setCommand(kFstl);
         h.execute();
       }},
      {"StringToList", 2,
       [&](Host& h) {
         h.setText(P1, U"one|two|three|four|");
         h.setText(P3, delimiter);
         h.setList(P2, {U"a", U"b"});
         h.setParamCount(3);
         h.setCommand(kStl);
         h.execute();
       }},
      // A cell is given room for 255 characters, its delimiter and the
      // terminator.
      {"ListToString", 1,
       [&](Host& h) {
         h.setList(P1, {U"a", U"b"}, cells);
         h.setText(P3, delimiter);
         h.setParamCount(3);
         h.setCommand(kLts);
         h.execute();
       }},
      // A definition longer than 64,000 bytes fills the whole buffer.
      {"ListToString, a definition past the buffer", 1,
       [&](Host& h) {
         h.setList(P1, names, wideRows);
         h.faults().listDefinition = corvane::host::join(names, U',') + U",more";
         h.setText(P3, U",");
         h.setParamCount(3);
         h.setCommand(kLts);
         h.execute();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Host obeying(shipped());
    Host ignoring(shipped());
    obeying.load();
    ignoring.load();
    c.run(obeying);
    ignoring.faults().overrunMaximaBy = c.overrunBy;
    c.run(ignoring);
    EXPECT_GT(ignoring.faultCounts().overrunTexts, 0u) << "the host wrote past a maximum";
    EXPECT_EQ(obeying.faultCounts().overrunTexts, 0u);
    ASSERT_EQ(obeying.result(), 0);
    EXPECT_EQ(ignoring.result(), obeying.result());
    EXPECT_EQ(ignoring.text(P2), obeying.text(P2));
    if (obeying.isList(P2)) {
      EXPECT_EQ(ignoring.list(P2).rows, obeying.list(P2).rows);
      EXPECT_FALSE(obeying.list(P2).rows.empty());
    }
  }
  // What the obeying host gets is what the strings cut at 255 characters give.
  Host h(shipped());
  h.load();
  cases[0].run(h);
  EXPECT_EQ(h.text(P2), rendered);
  cases[1].run(h);
  EXPECT_EQ(h.list(P2).rows, cut);
}

CORVANE_BOTH_BUILDS(HostFaultMatrix);

}  // namespace
}  // namespace cvtest
