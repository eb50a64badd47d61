// Texts, lists and host answers at the edges, both builds: 400 columns and
// one more, cells of exactly 255 and 32,000 characters, format strings of
// exactly 255 characters, a parse in which every separator almost matches,
// and lengths, counts and line counts whose byte counts reach 2^31, given
// by the host's answers rather than by real allocations.
#include <cstdarg>
#include <cstring>
#include <optional>

#include "FormattedOracle.h"
#include "PluginFixture.h"

namespace cvtest {
namespace {

using corvane::host::ascii;

// --- a host whose answers a test can bend ------------------------------------
//
// The callback below passes every operation on to our host and then, where
// a test asks for it, replaces the answer: the count at the head of a kind 8
// block, or the line count of a list.
struct Bent {
  std::optional<int32_t> deliveredCount;
  std::optional<double> lineCount;
};
Bent gBent;

extern "C" int32_t bentCallback(int32_t op, ...) {
  std::va_list args;
  va_start(args, op);
  int32_t result = 0;
  switch (op) {
    case kCvOpGetFldVal: {
      const int field = va_arg(args, int);
      const int kind = va_arg(args, int);
      const int32_t maximum = va_arg(args, int32_t);
      void* destination = va_arg(args, void*);
      result = corvane_host_callback(op, field, kind, maximum, destination);
      if (kind == kCvKindHandle && gBent.deliveredCount) {
        void* handle = *static_cast<void**>(destination);
        if (handle != nullptr) {
          corvane::host::LockedHandle locked(handle);
          std::memcpy(locked.data(), &*gBent.deliveredCount, 4);
        }
      }
      break;
    }
    case kCvOpGetLstVal: {
      const int list = va_arg(args, int);
      const int column = va_arg(args, int);
      const int kind = va_arg(args, int);
      void* destination = va_arg(args, void*);
      const int32_t* rowAndMaximum = va_arg(args, const int32_t*);
      result = corvane_host_callback(op, list, column, kind, destination, rowAndMaximum);
      if (column == Host::kLineCountRef && kind == kCvKindDouble && gBent.lineCount)
        std::memcpy(destination, &*gBent.lineCount, sizeof(double));
      break;
    }
    case kCvOpGetFldRef:
    case kCvOpGetPackageId:
    case kCvOpGetDesignPtr:
      result = corvane_host_callback(op, va_arg(args, void*));
      break;
    case kCvOpGetFldInt:
    case kCvOpSetFldInt: {
      const int field = va_arg(args, int);
      result = corvane_host_callback(op, field, va_arg(args, void*));
      break;
    }
    case kCvOpSetFldVal: {
      const int field = va_arg(args, int);
      const int kind = va_arg(args, int);
      result = corvane_host_callback(op, field, kind, va_arg(args, void*));
      break;
    }
    case kCvOpSetLstVal: {
      const int list = va_arg(args, int);
      const int32_t row = va_arg(args, int32_t);
      const int column = va_arg(args, int);
      const int kind = va_arg(args, int);
      result = corvane_host_callback(op, list, row, column, kind, va_arg(args, void*));
      break;
    }
    case kCvOpDoListOp: {
      const int operation = va_arg(args, int);
      const int list = va_arg(args, int);
      result = corvane_host_callback(op, operation, list, va_arg(args, int32_t));
      break;
    }
    case kCvOpGetListDef: {
      const int list = va_arg(args, int);
      const int maximum = va_arg(args, int);
      result = corvane_host_callback(op, list, maximum, va_arg(args, void*));
      break;
    }
    default:
      break;
  }
  va_end(args);
  return result;
}

// One load, one command and one unload through the bending callback.
int runBent(Host& host, const Plugin& plugin, int32_t command, int params) {
  Host::Scope scope(host);
  void* slot = nullptr;
  plugin.entry()(kCvMsgLoad, &slot, 0, 0, 0, &bentCallback);
  host.setCommand(command);
  host.setParamCount(params);
  host.clearField(kCvFieldResult);
  plugin.entry()(kCvMsgExecute, &slot, 0, 0, 0, &bentCallback);
  plugin.entry()(kCvMsgUnload, &slot, 0, 0, 0, &bentCallback);
  gBent = Bent{};
  return host.result();
}

class Limits : public PluginTest {
 protected:
  // ListToFormattedString then FormattedStringToList on `rows`; gives the
  // rendered text.
  std::u32string roundTrip(const std::vector<std::u32string>& names, const Rows& rows,
                           const FormatStrings& f) {
    host->setList(P1, names, rows);
    setFormats(*host, f);
    EXPECT_EQ(run(kLtfs, 8), 0);
    const std::u32string text = host->text(P2);
    EXPECT_EQ(text, literalRender(rows, names.size(), f));
    host->setText(P1, text);
    host->setList(P2, names, {});
    EXPECT_EQ(run(kFstl, 8), 0);
    EXPECT_EQ(host->list(P2).rows, rows);
    return text;
  }
};

std::vector<std::u32string> names(size_t count) {
  std::vector<std::u32string> out;
  for (size_t i = 0; i < count; ++i) out.push_back(ascii("col" + std::to_string(i)));
  return out;
}

TEST_P(Limits, FourHundredColumnsAndOneMore) {
  const std::vector<std::u32string> cols = names(400);
  Rows rows(3, std::vector<std::u32string>(400));
  for (size_t r = 0; r < 3; ++r)
    for (size_t c = 0; c < 400; ++c) rows[r][c] = ascii(std::to_string(r * 1000 + c));

  host->setList(P1, cols, rows);
  host->setText(P3, U";");
  ASSERT_EQ(run(kLts, 3), 0);
  host->setText(P1, host->text(P2));
  host->setList(P2, cols, {});
  ASSERT_EQ(run(kStl, 3), 0);
  EXPECT_EQ(host->list(P2).rows, rows);
  roundTrip(cols, rows, {U"<", U">", U"\n", U"[", U"]", U"|"});

  // 401 columns: every command refuses them with 4 and reads no cell.
  std::vector<std::u32string> more = names(401);
  for (int32_t command : {kLts, kStl, kLtfs, kFstl}) {
    SCOPED_TRACE(command);
    host->setList(P1, more, {std::vector<std::u32string>(401, U"x")});
    host->setList(P2, more, {std::vector<std::u32string>(401, U"x")});
    if (command == kStl || command == kFstl) host->setText(P1, U"x;");
    setFormats(*host, {U"", U"", U";", U"", U"", U","});
    host->resetStats();
    EXPECT_EQ(run(command, command == kLts || command == kStl ? 2 : 8), 4);
    EXPECT_EQ(host->stats().cellsRead + host->stats().cellsWritten, 0u);
    EXPECT_EQ(host->stats().callsOf(kCvOpGetFldRef), 400u) << "the 401st name is never looked up";
  }
}

TEST_P(Limits, CellsOfExactly255And32000Characters) {
  // 255 characters is the most ListToString asks for; 400 such cells a row
  // take 102,400 characters, 409,600 bytes in the Unicode build, where a
  // cell is larger than the growth margin.
  const char32_t top = ch(U'\U0010FFFF', U'\xFF');
  const std::vector<std::u32string> cols = names(400);
  Rows rows(4, std::vector<std::u32string>(400));
  for (size_t r = 0; r < rows.size(); ++r)
    for (size_t c = 0; c < 400; ++c)
      rows[r][c] = std::u32string(255, c % 2 ? top : static_cast<char32_t>(U'a' + r));
  host->setList(P1, cols, rows);
  host->setText(P3, U",");
  ASSERT_EQ(run(kLts, 3), 0);
  const std::u32string text = host->text(P2);
  EXPECT_EQ(text.size(), 4u * 400u * 256u);
  host->setText(P1, text);
  host->setList(P2, cols, {});
  ASSERT_EQ(run(kStl, 3), 0);
  EXPECT_EQ(host->list(P2).rows, rows);

  // 32,000 characters is the most ListToFormattedString asks for.
  Rows wide(3, std::vector<std::u32string>(2));
  for (size_t r = 0; r < wide.size(); ++r) {
    wide[r][0] = std::u32string(32000, top);
    wide[r][1] = std::u32string(32000, static_cast<char32_t>(U'p' + r));
  }
  roundTrip(names(2), wide, {U"{", U"}", U";", U"VARIANT:(,[", U")", U","});
}

TEST_P(Limits, FormatStringsOfExactly255Characters) {
  // Six strings of 255 characters: the joined separators reach 1,275.
  auto fill = [](char32_t first, char32_t rest) {
    std::u32string s(255, rest);
    s[0] = first;
    return s;
  };
  const FormatStrings f{fill(U'R', U'r'), fill(U'S', U's'), fill(U'D', U'd'),
                        fill(U'P', U'p'), fill(U'Q', U'q'), fill(U'C', U'c')};
  Rows rows{{U"a", U"b", U""}, {U"", U"x", U"y"}};
  const std::u32string text = roundTrip(names(3), rows, f);
  // Two rows of rowPrefix, three framed cells, two colDelims, rowSuffix;
  // one rowDelim; two characters of cells in each row.
  EXPECT_EQ(text.size(), 2u * (255 + 3 * (255 + 255) + 2 * 255 + 255 + 2) + 255);

  // A 256th character is cut by the host: the text is the same.
  FormatStrings longer = f;
  longer.rowDelim += U'!';
  longer.colPrefix += U'!';
  host->setList(P1, names(3), rows);
  setFormats(*host, longer);
  ASSERT_EQ(run(kLtfs, 8), 0);
  EXPECT_EQ(host->text(P2), text);

  // Variant lists of 255 characters: 123 one-letter prefixes, and a suffix
  // list whose 129th entry and later would be X: each side keeps 128
  // entries, so no column gets an X.
  std::u32string prefixes = U"VARIANT:";
  for (int e = 0; e < 123; ++e)
    prefixes += ascii(std::string(e ? "," : "") + static_cast<char>('a' + e % 26));
  prefixes.resize(255, U'z');
  std::u32string suffixes = U"VARIANT:" + std::u32string(128, U',');
  while (suffixes.size() < 255) suffixes += suffixes.size() % 2 ? U"X" : U",";
  ASSERT_EQ(suffixes.size(), 255u);
  Rows many(2, std::vector<std::u32string>(200));
  for (size_t c = 0; c < 200; ++c) many[1][c] = ascii(std::to_string(c));
  const std::u32string framed = roundTrip(names(200), many, {U"", U"", U";", prefixes, suffixes, U"|"});
  EXPECT_EQ(framed.find(U'X'), std::u32string::npos);
}

TEST_P(Limits, EverySeparatorAlmostMatches) {
  // Separators that are runs of one letter ending in another, in a text of
  // runs one shorter: every position begins a near match.  The literal
  // parse decides on a short text; a long one must end in time with the
  // rows it was built from.
  const FormatStrings f{U"", U"", std::u32string(40, U'a') + U"b", U"", U"", std::u32string(30, U'a') + U"c"};
  const std::u32string nearRow = std::u32string(39, U'a') + U"x";
  const std::u32string nearCell = std::u32string(29, U'a') + U"y";
  std::u32string small;
  for (int i = 0; i < 20; ++i) small += (i % 3 ? nearRow : nearCell) + (i % 5 ? f.colDelim : f.rowDelim);
  const std::vector<std::u32string> cols = names(2);
  host->setText(P1, small);
  host->setList(P2, cols, {});
  setFormats(*host, f);
  const int result = run(kFstl, 8);
  const ParseOutcome want = literalParse(small, 2, f);
  EXPECT_EQ(result, want.result);
  EXPECT_EQ(host->list(P2).rows, want.rows);

  Rows rows;
  for (int r = 0; r < 4000; ++r) rows.push_back({nearRow + nearCell, nearCell + nearRow});
  roundTrip(cols, rows, f);
}

// A kind 4 length whose byte count reaches 2^31 is refused before any
// block is asked for; one just below it is asked for (and here refused by
// the test build, so that nothing that large is taken).  Either way the
// result is 2 and the instance goes on.
struct LengthCase {
  const char* what;
  int32_t length;
};

// Whether a block of `length` characters plus the command's own room fits
// the largest block size (a signed 32-bit byte count; off Windows less the
// 8-byte header of a movable block).
bool fits(int64_t length, int64_t extraChars, int64_t extraBytes, int64_t unit) {
#ifdef _WIN32
  const int64_t largest = INT32_MAX;
#else
  const int64_t largest = INT32_MAX - 8;
#endif
  return length > 0 && (length + extraChars) * unit + extraBytes <= largest;
}

TEST_P(Limits, LengthsWhoseBytesReach2To31) {
  const LengthCase cases[] = {
      {"2^31 - 1", 0x7FFFFFFF},
      {"a quarter of 2^31", 0x20000000},
      {"just below a quarter", 0x1FFFFFF0},
      {"negative", -1},
      {"the most negative", INT32_MIN},
      {"2^31 - 1 less a block header and a count", 0x7FFFFFF3},
      {"2^31 - 1 less a block header, a count and room", 0x7FFFFFF3 - 15},
  };
  Faults faults(withFaults());
  for (int32_t command : {kStl, kFstl}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << ", command " << command);
      Host h(withFaults());
      h.load();
      h.setText(P1, U"x;y;");
      h.setList(P2, {U"a"}, {{U"old"}});
      setFormats(h, {U"", U"", U";", U"", U"", U","});
      h.setCommand(command);
      h.setParamCount(command == kStl ? 3 : 8);
      h.setText(P3, command == kStl ? U";" : U"");
      h.faults().forcedLength = c.length;
      ASSERT_TRUE(faults.fail("text handle"));  // the text block, when it is asked for
      h.execute();
      const int32_t asked = faults.passes("text handle");
      faults.off();
      // FormattedStringToList asks for room for rowDelim (1 here), 10
      // characters and the count besides the text.
      const bool tried = command == kStl ? fits(c.length, 0, 0, unicode() ? 4 : 1)
                                         : fits(c.length, 11, 4, unicode() ? 4 : 1);
      EXPECT_EQ(h.result(), 2);
      EXPECT_EQ(asked, tried ? 1 : 0) << "a block asked for only when its size fits";
      EXPECT_TRUE(h.list(P2).rows.empty());
      h.faults().forcedLength.reset();
      h.execute();
      EXPECT_EQ(h.result(), 0);
      EXPECT_EQ(h.list(P2).rows, (Rows{{U"x"}, {U"y"}}));
    }
  }
}

// The count at the head of a delivered block must fit the block: counts
// whose byte counts wrap in 32 bits are refused as well.
TEST_P(Limits, DeliveredCountsLargerThanTheBlock) {
  for (int32_t command : {kStl, kFstl}) {
    for (int32_t count : {0x7FFFFFFF, 0x40000000, 0x3FFFFFFF, 0x40000001, 1000, -1, INT32_MIN}) {
      SCOPED_TRACE(testing::Message() << "count " << count << ", command " << command);
      host->setText(P1, U"x;y;");
      host->setList(P2, {U"a"}, {{U"old"}});
      setFormats(*host, {U"", U"", U";", U"", U"", U","});
      host->setText(P3, command == kStl ? U";" : U"");
      gBent.deliveredCount = count;
      EXPECT_EQ(runBent(*host, shipped(), command, command == kStl ? 3 : 8), 2);
      EXPECT_TRUE(host->list(P2).rows.empty());
    }
  }
}

// Line counts as the host reports them: a fraction is cut, a negative count
// or one beyond the 32-bit range gives no rows, and none of them makes a
// command read or write rows the list does not have.
TEST_P(Limits, LineCountsOutsideTheRange) {
  struct Case {
    double lines;
    size_t rendered;  // rows rendered from a three-row list
  } cases[] = {{2.9, 2}, {-1, 0}, {-2147483648.0, 0}, {2147483648.0, 0}, {1e300, 0}, {-1e300, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lines);
    host->setList(P1, {U"a"}, {{U"x"}, {U"y"}, {U"z"}});
    host->setText(P3, U",");
    gBent.lineCount = c.lines;
    EXPECT_EQ(runBent(*host, shipped(), kLts, 3), 0);
    EXPECT_EQ(host->text(P2), std::u32string(U"x,y,z,").substr(0, 2 * c.rendered));
    setFormats(*host, {U"", U"", U";", U"", U"", U","});
    gBent.lineCount = c.lines;
    EXPECT_EQ(runBent(*host, shipped(), kLtfs, 8), 0);
    EXPECT_EQ(host->text(P2), std::u32string(U"x;y;z").substr(0, c.rendered ? 2 * c.rendered - 1 : 0));
    // Read back after setting the line count: any other count stops the
    // parse before a cell is written.
    host->setText(P1, U"x;y;z;");
    host->setList(P2, {U"a"}, {});
    gBent.lineCount = c.lines;
    host->resetStats();
    EXPECT_EQ(runBent(*host, shipped(), kFstl, 8), 2);
    EXPECT_EQ(host->stats().cellsWritten, 0u);
  }
}

CORVANE_BOTH_BUILDS(Limits);

}  // namespace
}  // namespace cvtest
