// Allocation-failure sweeps, both builds.  For load and for each command,
// the n-th allocation, resize or lock fails (once alone, once together with
// every later one), for n = 1, 2, ... until the operation completes without
// reaching point n.  Each run must end with the result code that a
// failure at that point's site gives, leave the fields and lists as that
// failure must, free everything it took, and leave the instance usable: the
// same command, run again without the failure, must give the full result.
#include <cstring>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <tuple>

#include "FormattedOracle.h"
#include "PluginFixture.h"

#include "HeapCheck.h"

namespace cvtest {
namespace {

using corvane::host::ascii;

uint32_t stateOf(const Host& host) {
  uint32_t state = 0;
  std::memcpy(&state, host.slot(), sizeof state);
  return state;
}

bool isPrefix(const std::u32string& part, const std::u32string& whole) {
  return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

// Where the n-th point of a run was, by its site's name.
struct Failure {
  std::string site;  // the point that failed
  std::string next;  // the point after it, "" if none
  bool onward;       // every later point failed too
};

// One command under test: how to set its fields, and what a failure at a
// site must give.  The sweep visits every point by
// count; what it expects of each it takes from the point's site, so that
// a site added elsewhere moves no expectation.
struct Scenario {
  const char* name;
  int32_t command;
  int params;
  std::function<void(Host&, bool unicode)> prepare;
  // The result code for a failure.
  std::function<int(const Failure&)> code;
  // Whether the fields and lists left by a failure are what that failure
  // must leave.  `full` is what a run without failure leaves.
  std::function<bool(const Host&, const Failure&, const std::u32string& fullText, const Rows& fullRows)>
      state;
};

struct SweepRun {
  int result = -9;
  int32_t points = 0;
  Failure failure;
  bool stateOk = false;
  int rerun = -9;
  bool rerunOk = false;
};

class FaultSweep : public PluginTest {
 protected:
  void sweep(const Scenario& s) {
    Faults faults(withFaults());
    ASSERT_NE(faults.arm, nullptr);
    // The result without failures.
    std::u32string fullText;
    Rows fullRows;
    {
      Host h(withFaults());
      s.prepare(h, unicode());
      h.load();
      h.setCommand(s.command);
      h.setParamCount(s.params);
      faults.count();
      h.execute();
      ASSERT_EQ(h.result(), 0) << s.name;
      fullText = h.text(P2);
      if (h.isList(P2)) fullRows = h.list(P2).rows;
    }
    for (bool onward : {false, true}) {
      int32_t n = 1;
      for (;; ++n) {
        SCOPED_TRACE(testing::Message() << s.name << ", point " << n << (onward ? " and after" : " alone"));
        Host h(withFaults());
        // The same sequence several times on one host: the host's own
        // allocations are the same each time, so any growth of the heap
        // between two of them is what the plug-in kept.
        auto once = [&]() {
          SweepRun r;
          s.prepare(h, unicode());
          h.load();
          h.setCommand(s.command);
          h.setParamCount(s.params);
          faults.arm(n, onward ? -1 : 0);
          h.execute();
          r.points = faults.points();
          r.failure = {faults.site(n), faults.site(n + 1), onward};
          faults.off();
          r.result = h.result();
          r.stateOk = s.state(h, r.failure, fullText, fullRows);
          h.execute();
          r.rerun = h.result();
          r.rerunOk = h.isList(P2) ? h.list(P2).rows == fullRows : h.text(P2) == fullText;
          h.unload();
          return r;
        };
        SweepRun second;
        const long long growth = heapGrowth([&] { second = once(); });
        EXPECT_LE(growth, static_cast<long long>(kHeapNoise)) << "bytes kept by the plug-in";
        if (second.points < n) {
          // Completed without reaching point n: the sweep is over.
          EXPECT_EQ(second.result, 0);
          break;
        }
        SCOPED_TRACE("site " + second.failure.site);
        EXPECT_EQ(second.result, s.code(second.failure));
        EXPECT_TRUE(second.stateOk) << "fields and lists as that failure must leave them";
        EXPECT_EQ(second.rerun, 0) << "the instance stays usable";
        EXPECT_TRUE(second.rerunOk) << "and gives the full result again";
        if (HasFailure()) return;
      }
      const int32_t points = n - 1;
      std::cout << "[ sweep    ] " << GetParam().file << " " << s.name
                << (onward ? ", failing onward: " : ", failing alone: ") << points << " failure points\n";
      RecordProperty(std::string(s.name) + (onward ? " onward" : " alone"), points);
      EXPECT_GE(points, 3)
          << "every command passes at least the column definition, the references and one block";
    }
  }
};

// A list of `rows` rows of two cells of `width` characters.
Rows wideRows(size_t rows, size_t width) {
  Rows out;
  for (size_t r = 0; r < rows; ++r)
    out.push_back({std::u32string(width, static_cast<char32_t>(U'a' + r % 26)), ascii(std::to_string(r))});
  return out;
}

TEST_P(FaultSweep, Load) {
  Faults faults(withFaults());
  for (bool onward : {false, true}) {
    std::set<std::string> failed;
    int32_t n = 1;
    for (;; ++n) {
      SCOPED_TRACE(testing::Message() << "load, point " << n << (onward ? " and after" : " alone"));
      Host h(withFaults());
      h.setList(P1, {U"a"}, {{U"x"}});
      int32_t points = 0;
      std::string site;
      auto once = [&]() {
        faults.arm(n, onward ? -1 : 0);
        h.load();
        points = faults.points();
        site = faults.site(n);
        faults.off();
        const bool filled = h.slot() != nullptr;
        const uint32_t state = filled ? stateOf(h) : 0;
        h.setCommand(kLts);
        h.setParamCount(2);
        h.execute();
        const int refused = h.result();
        h.load();  // a block that is not ready is replaced
        h.execute();
        const int after = h.result();
        h.unload();
        return std::make_tuple(filled, state, refused, after);
      };
      std::tuple<bool, uint32_t, int, int> outcome;
      const long long growth = heapGrowth([&] { outcome = once(); });
      EXPECT_LE(growth, static_cast<long long>(kHeapNoise)) << "bytes kept by the plug-in";
      const auto [filled, state, refused, rerun] = outcome;
      if (points < n) {
        EXPECT_TRUE(filled);
        EXPECT_EQ(refused, 0);
        break;
      }
      SCOPED_TRACE("site " + site);
      failed.insert(site);
      if (site == "instance block") {
        EXPECT_FALSE(filled) << "no block: the slot stays empty";
        EXPECT_EQ(refused, -1);
      } else {
        ASSERT_TRUE(filled);
        EXPECT_EQ(state, CORVANE_STATE_MERR) << "a working buffer is missing";
        EXPECT_EQ(refused, -1) << "a block that is not ready refuses every command";
      }
      EXPECT_EQ(rerun, 0) << "loading again gives a ready block";
    }
    std::cout << "[ sweep    ] " << GetParam().file << " load"
              << (onward ? ", failing onward: " : ", failing alone: ") << n - 1 << " failure points\n";
    EXPECT_EQ(failed, (std::set<std::string>{"instance block", "ScratchBuffer", "BigBuffer"}))
        << "the block and its two working buffers";
  }
}

// Sites of a working buffer's growth: its resize by half, by one step, and
// the lock after either.
bool isGrowth(const std::string& site) {
  return (site.rfind("ScratchBuffer ", 0) == 0 || site.rfind("BigBuffer ", 0) == 0) &&
         site.find("growth") != std::string::npos;
}

// A failure before any growth gives 2.  A resize by half refused alone is
// made good by one step (the next point), where that is less than the size
// asked for; a lock that fails after growing, or a resize refused in both
// sizes, gives 4.  The ScratchBuffer's first growth (32,500 to 64,500 bytes)
// is one step anyway; the BigBuffer's is not.
int growthCode(const Failure& f) {
  if (!isGrowth(f.site)) return 2;
  const bool byHalf = f.site == "ScratchBuffer growth" || f.site == "BigBuffer growth";
  return byHalf && !f.onward && f.next == f.site + " by a step" ? 0 : 4;
}

TEST_P(FaultSweep, ListToStringWithGrowth) {
  // 300 rows of a 120-character and a short cell: past the ScratchBuffer's
  // first 32,500 bytes in either build, several times in the Unicode one.
  sweep({"ListToString", kLts, 3,
         [](Host& h, bool) {
           h.setList(P1, {U"a", U"b"}, wideRows(300, 120));
           h.setText(P3, U",");
           h.setText(P2, U"old");
         },
         growthCode,
         [](const Host& h, const Failure& f, const std::u32string& full, const Rows&) {
           const std::u32string text = h.text(P2);
           if (!isGrowth(f.site)) return text.empty();
           // the text so far, ending after a delimiter, or nothing
           return isPrefix(text, full) && (text.empty() || text.back() == U',');
         }});
}

TEST_P(FaultSweep, StringToList) {
  sweep({"StringToList", kStl, 3,
         [](Host& h, bool) {
           std::u32string text;
           for (int i = 0; i < 999; ++i) text += ascii("cell" + std::to_string(i) + ",");
           h.setText(P1, text);
           h.setText(P3, U",");
           h.setList(P2, {U"a", U"b", U"c"}, {{U"old"}});
         },
         [](const Failure&) { return 2; },
         [](const Host& h, const Failure&, const std::u32string&, const Rows&) {
           return h.list(P2).rows.empty();
         }});
}

TEST_P(FaultSweep, ListToFormattedStringWithGrowth) {
  // Past the BigBuffer's first threshold in either build: 8-bit 170 cells
  // of 32,000 characters, Unicode 45 (the margin there is counted before
  // each cell).
  sweep({"ListToFormattedString", kLtfs, 8,
         [](Host& h, bool unicode) {
           const size_t rows = unicode ? 45 : 170;
           Rows list;
           for (size_t r = 0; r < rows; ++r) list.push_back({std::u32string(32000, U'x')});
           h.setList(P1, {U"a"}, list);
           const char32_t* formats[] = {U"[", U"]", U";", U"VARIANT:<", U">", U","};
           for (int16_t i = 0; i < 6; ++i) h.setText(static_cast<int16_t>(P3 + i), formats[i]);
           h.setText(P2, U"old");
         },
         growthCode,
         [](const Host& h, const Failure& f, const std::u32string& full, const Rows&) {
           const std::u32string text = h.text(P2);
           return !isGrowth(f.site) ? text.empty() : isPrefix(text, full);
         }});
}

void prepareParse(Host& h, const FormatStrings& f, const std::u32string& text) {
  h.setText(P1, text);
  h.setList(P2, {U"a", U"b", U"c"}, {{U"untouched"}});
  setFormats(h, f);
}

// The column definition and the references come before the list is
// cleared: a failure there leaves the list as it was.
bool parseState(const Host& h, const Failure& f) {
  const Rows& rows = h.list(P2).rows;
  const bool before = f.site == "column definition" || f.site == "column references";
  return before ? rows.size() == 1 && rows[0][0] == U"untouched" : rows.empty();
}

TEST_P(FaultSweep, FormattedStringToList) {
  const FormatStrings f{U"{", U"}", U";", U"[", U"]", U","};
  Rows rows;
  for (int r = 0; r < 400; ++r) rows.push_back({ascii("x" + std::to_string(r)), U"y", U""});
  const std::u32string text = literalRender(rows, 3, f);
  sweep({"FormattedStringToList", kFstl, 8, [&](Host& h, bool) { prepareParse(h, f, text); },
         [](const Failure&) { return 2; },
         [](const Host& h, const Failure& failure, const std::u32string&, const Rows&) {
           return parseState(h, failure);
         }});
}

TEST_P(FaultSweep, FormattedStringToListWithVariantsAndAnExactBlock) {
  // A host that leaves the block just large enough for what it holds makes
  // the command grow it for the row delimiter and terminators; the variant
  // lists need the per-column searchers.
  const FormatStrings f{U"", U"", U"\n", U"VARIANT:(,[,{", U"VARIANT:),],}", U"|"};
  Rows rows;
  for (int r = 0; r < 400; ++r) rows.push_back({ascii(std::to_string(r)), U"b", U"c"});
  const std::u32string text = literalRender(rows, 3, f);
  sweep({"FormattedStringToList, variants, exact block", kFstl, 8,
         [&](Host& h, bool) {
           prepareParse(h, f, text);
           h.faults().exactHandleSize = true;
         },
         [](const Failure&) { return 2; },
         [](const Host& h, const Failure& failure, const std::u32string&, const Rows&) {
           return parseState(h, failure);
         }});
}

CORVANE_BOTH_BUILDS(FaultSweep);

}  // namespace
}  // namespace cvtest
