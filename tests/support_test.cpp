// The support routines' contracts, compiled into this test once per build
// (CORVANE_UNICODE set or not), and the linear search against OMstrstr.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "Instance.h"
#include "OMstring.h"
#include "TextSearch.h"
#include "kXPqUtil.h"

namespace {

using QString = std::vector<qchar>;

// The site these blocks pass; this build has no fault points.
constexpr XPFaultSite kSite = kFaultScratchBuffer;

QString q(const char32_t* text) {
  QString s;
  for (; *text; ++text) s.push_back(static_cast<qchar>(*text));
  s.push_back(0);
  return s;
}

TEST(Memory, SmallHandlesAreZeroFilledAndGrowthZeroFillsWhatItAdds) {
  XPHandle h = NewXPHandle(8192, kSite);
  ASSERT_NE(h, nullptr);
  auto* bytes = static_cast<uint8_t*>(LockXPHandle(h, kSite));
  ASSERT_NE(bytes, nullptr);
  for (int i = 0; i < 8192; ++i) ASSERT_EQ(bytes[i], 0) << i;
  UnlockXPHandle(h);
  DisposeXPHandle(h);

  h = NewXPHandle(32500, kSite);
  bytes = static_cast<uint8_t*>(LockXPHandle(h, kSite));
  std::memset(bytes, 0x5A, 32500);
  UnlockXPHandle(h);
  ASSERT_EQ(ResizeXPHandle(&h, 64500, kSite), 0);
  EXPECT_GE(XPHandleSize(h), 64500);
  bytes = static_cast<uint8_t*>(LockXPHandle(h, kSite));
  for (int i = 0; i < 32500; ++i) ASSERT_EQ(bytes[i], 0x5A) << i;
  for (int i = 32500; i < 64500; ++i) ASSERT_EQ(bytes[i], 0) << i;
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

// A working buffer near the largest block grows to exactly that size, then
// refuses, keeping its text locked; nothing wraps.  Reserving 2 GiB is cheap
// where untouched pages cost nothing; a 32-bit process cannot have it.
TEST(WorkBuffer, GrowthNearTheLargestBlockClampsThenRefuses) {
  XPSize size = XP_HANDLE_SIZE_MAX - 1000;
  XPHandle handle = NewXPHandle(size, kSite);
  if (handle == nullptr) GTEST_SKIP() << "no block of 2 GiB in this process";
  WorkBuffer buffer = {&handle, &size, 32000, static_cast<qchar*>(LockXPHandle(handle, kSite)),
                       kFaultScratchGrowth};
  ASSERT_NE(buffer.start, nullptr);
  buffer.start[0] = 42;
  EXPECT_EQ(GrowWorkBuffer(&buffer), kCvResultOk);
  EXPECT_EQ(size, XP_HANDLE_SIZE_MAX);
  EXPECT_EQ(XPHandleSize(handle), XP_HANDLE_SIZE_MAX);
  ASSERT_NE(buffer.start, nullptr);
  EXPECT_EQ(buffer.start[0], 42);
  EXPECT_EQ(GrowWorkBuffer(&buffer), kCvResultGrowth);
  EXPECT_EQ(size, XP_HANDLE_SIZE_MAX);
  ASSERT_NE(buffer.start, nullptr) << "the old block, locked again";
  EXPECT_EQ(buffer.start[0], 42);
  UnlockXPHandle(handle);
  DisposeXPHandle(handle);
}

// Each growth adds half the size, at least the step.
TEST(WorkBuffer, GrowsInProportionToItsSize) {
  XPSize size = 32500;
  XPHandle handle = NewXPHandle(size, kSite);
  WorkBuffer buffer = {&handle, &size, 32000, static_cast<qchar*>(LockXPHandle(handle, kSite)),
                       kFaultScratchGrowth};
  const XPSize expected[] = {64500, 96750, 145125, 217687};
  for (XPSize want : expected) {
    ASSERT_EQ(GrowWorkBuffer(&buffer), kCvResultOk);
    EXPECT_EQ(size, want);
  }
  UnlockXPHandle(handle);
  DisposeXPHandle(handle);
}

TEST(Memory, ARefusedResizeLeavesTheBlockAsItWas) {
  XPHandle h = NewXPHandle(16, kSite);
  XPHandle before = h;
  std::memset(LockXPHandle(h, kSite), 7, 16);
  UnlockXPHandle(h);
  EXPECT_EQ(ResizeXPHandle(&h, -1, kSite), 1);
  EXPECT_EQ(ResizeXPHandle(&h, XP_SIZE_MAX, kSite), 1) << "no size past the signed 32-bit range";
  EXPECT_EQ(h, before);
  EXPECT_EQ(XPHandleSize(h), 16);
  EXPECT_EQ(static_cast<uint8_t*>(LockXPHandle(h, kSite))[15], 7);
  UnlockXPHandle(h);
  DisposeXPHandle(h);
  EXPECT_EQ(NewXPHandle(-5, kSite), nullptr);
  EXPECT_EQ(NewXPPointer(-5, kSite), nullptr);
  auto* p = static_cast<uint8_t*>(NewXPPointer(100, kSite));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
  DisposeXPPointer(p);
}

// A working buffer that is already the largest block a movable block may be
// is not grown: the block stays as it was, locked again, its size unchanged,
// and making room for more stops there instead of trying again.
TEST(Memory, GrowthPastTheLargestSizeIsRefused) {
  XPHandle h = NewXPHandle(64, kSite);
  ASSERT_NE(h, nullptr);
  XPSize size = XP_HANDLE_SIZE_MAX;  // what the buffer claims to hold: the largest block
  WorkBuffer buffer{};
  buffer.handle = &h;
  buffer.size = &size;
  buffer.step = kBigGrowth;
  buffer.growthSite = kFaultBigGrowth;
  buffer.start = static_cast<qchar*>(LockXPHandle(h, kSite));
  ASSERT_NE(buffer.start, nullptr);
  buffer.start[15] = 'k';
  const XPHandle before = h;

  EXPECT_EQ(GrowWorkBuffer(&buffer), kCvResultGrowth);
  EXPECT_EQ(size, XP_HANDLE_SIZE_MAX);
  EXPECT_EQ(h, before);
  EXPECT_EQ(XPHandleSize(h), 64);
  ASSERT_NE(buffer.start, nullptr);
  EXPECT_EQ(buffer.start[15], 'k');
  EXPECT_EQ(EnsureWorkRoom(&buffer, (int64_t)XP_SIZE_MAX + 1), kCvResultGrowth);
  EXPECT_EQ(size, XP_HANDLE_SIZE_MAX);
  ASSERT_NE(buffer.start, nullptr);
  EXPECT_EQ(buffer.start[15], 'k');
  UnlockXPHandle(h);
  DisposeXPHandle(h);
}

TEST(Memory, ByteCountsNeverWrap) {
  EXPECT_EQ(XPByteCount(10, 4, 4), 44);
  EXPECT_EQ(XPByteCount(0x1FFFFFFF, 4, 3), 0x7FFFFFFF);
  EXPECT_EQ(XPByteCount(0x1FFFFFFF, 4, 4), -1);
  EXPECT_EQ(XPByteCount(0x7FFFFFFF, 4, 0), -1);
  EXPECT_EQ(XPByteCount(-1, 1, 0), -1);
}

TEST(Strings, SearchCompareAndLength) {
  QString s = q(U"abcabc"), empty = q(U"");
  EXPECT_EQ(OMstrstr(s.data(), empty.data()), s.data());
  EXPECT_EQ(OMstrstr(nullptr, nullptr), nullptr);
  EXPECT_EQ(OMstrstr(s.data(), q(U"bc").data()), s.data() + 1) << "the first of two";
  EXPECT_EQ(OMstrstr(s.data(), q(U"cabc").data()), s.data() + 2) << "ending at the end";
  EXPECT_EQ(OMstrstr(s.data(), q(U"abcabcx").data()), nullptr);
  EXPECT_EQ(OMstrlen(nullptr), 0);
  EXPECT_EQ(OMstrcmp(q(U"ab").data(), q(U"abc").data()), -1);
  EXPECT_EQ(OMstrcmp(q(U"abc").data(), q(U"ab").data()), 1);
  EXPECT_EQ(OMstrcmp(empty.data(), empty.data()), 0);
  QString high{static_cast<qchar>(0xE9), 0};
  EXPECT_EQ(OMstrcmp(high.data(), q(U"A").data()), 1) << "characters compare unsigned";
  const uint8_t a[] = {1, 0x80}, b[] = {1, 0x7F};
  EXPECT_EQ(OMmemcmp(a, b, 2), 1);
  EXPECT_EQ(OMmemcmp(a, b, 0), 0);
  EXPECT_EQ(OMmemcmp(a, b, -3), 0);
  QString dst = q(U"xy"), big(16, 0);
  OMstrcpy(big.data(), dst.data());
  OMstrcat(big.data(), q(U"z").data());
  EXPECT_EQ(big, (QString{'x', 'y', 'z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(OMstrcpy(nullptr, dst.data()), nullptr);
  EXPECT_EQ(OMstrcat(big.data(), nullptr), big.data());
}

// The block-at-a-time length and the short copies, at every offset around
// their block sizes: a length stops at the first zero or at the limit, and a
// copy writes exactly its characters.
TEST(Strings, LengthsAndCopiesAroundBlockSizes) {
  for (int32_t limit = 0; limit <= 40; ++limit) {
    for (int32_t zero = 0; zero <= 41; ++zero) {
      QString s(41, 'a');
      for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<qchar>('a' + i % 26);
      if (zero < 41) s[zero] = 0;
      ASSERT_EQ(OMstrnlen(s.data(), limit), std::min(zero, limit)) << "limit " << limit << " zero " << zero;
    }
  }
  for (int32_t n = 0; n <= 40; ++n) {
    QString from(n, 0), to(48, '.');
    for (int32_t i = 0; i < n; ++i) from[i] = static_cast<qchar>(0x41 + i);
    OMcopy(to.data() + 3, from.data(), n);
    for (int32_t i = 0; i < 48; ++i)
      ASSERT_EQ(to[i], i >= 3 && i < 3 + n ? from[i - 3] : '.') << "n " << n << " at " << i;
  }
}

TEST(Strings, LengthPrefixedNamesHoldAt254Characters) {
  qchar out[256];
  QString ten = q(U"abcdefghij");
  sthandle(ten.data(), out);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[10], 'j');
  EXPECT_EQ(out[11], 0);
  QString long300(300, 'n');
  long300.push_back(0);
  sthandle(long300.data(), out);
  EXPECT_EQ(out[0], 254);
  EXPECT_EQ(out[255], 'n') << "255 characters copied, 254 announced";
}

TEST(Strings, AsciiLiteralsWidenAsSignedBytes) {
  qchar out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  CHRcopyAsciiStringToQchar("ab", out, 0);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[2], 9) << "no terminator when the flag is 0";
  CHRcopyAsciiStringToQchar("\xE9", out, 1);
#ifdef CORVANE_UNICODE
  EXPECT_EQ(out[0], 0xFFFFFFE9u);
#else
  EXPECT_EQ(out[0], 0xE9);
#endif
  EXPECT_EQ(out[1], 0);
}

#ifdef CORVANE_UNICODE
TEST(Strings, Utf16ConversionMarksBrokenSurrogates) {
  struct Case {
    std::vector<uint16_t> in;
    std::vector<qchar> out;
  } cases[] = {
      {{0xD83D, 0xDE00, 0}, {0x1F600, 0}},
      {{0xDC00, 'A', 'B', 0}, {2, 'B', 0}},
      {{'x', 0xD800, 0}, {'x', 1, 0}},
      {{0xD800, 0xD800, 'z', 0}, {2, 'z', 0}},
  };
  for (const auto& c : cases) {
    std::vector<qchar> out(8, 0xAA);
    int32_t n = CHRoscharToChar(c.in.data(), out.data());
    EXPECT_EQ(n, static_cast<int32_t>(c.out.size() - 1));
    out.resize(c.out.size());
    EXPECT_EQ(out, c.out);
  }
}
#endif

// The linear search finds what OMstrstr finds on the remaining text, for
// start positions that only move forward, also where the text before the
// start changes (cells are terminated in place) and where zeros stop it.
TEST(TextSearch, FindsWhatTheLiteralSearchFinds) {
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    // Letters, and characters the search looks for before others.
    const char letters[] = "ab |\nc";
    const size_t alphabet = 2 + rng() % 5;
    auto letter = [&] { return static_cast<qchar>(letters[rng() % alphabet]); };
    // Short patterns, and long ones that the search compares a block at a
    // time, planted whole and with one character changed.
    QString pattern(rng() % 3 == 0 ? 6 + rng() % 40 : rng() % 6);
    for (auto& c : pattern) c = letter();
    QString text(1 + rng() % 200);
    for (auto& c : text) c = rng() % 50 == 0 ? 0 : letter();
    for (int planted = 0; !pattern.empty() && planted < 4; ++planted) {
      QString copy = pattern;
      if (rng() % 2) copy[rng() % copy.size()] = rng() % 8 == 0 ? 0 : letter();
      text.insert(text.begin() + static_cast<std::ptrdiff_t>(rng() % (text.size() + 1)), copy.begin(),
                  copy.end());
    }
    text.push_back(0);
    pattern.push_back(0);
    std::vector<int32_t> border(pattern.size() + 1);
    TextSearcher searcher;
    SearcherInit(&searcher, pattern.data(), OMstrlen(pattern.data()), border.data());
    for (int32_t from = 0; from < static_cast<int32_t>(text.size());) {
      qchar* want = OMstrstr(text.data() + from, pattern.data());
      int32_t got = SearchFrom(&searcher, text.data(), from, static_cast<int32_t>(text.size()) - 1);
      ASSERT_EQ(got, want ? static_cast<int32_t>(want - text.data()) : -1)
          << "round " << round << " from " << from;
      if (from > 0 && rng() % 3 == 0) text[from - 1] = 0;  // behind the start only
      from += 1 + static_cast<int32_t>(rng() % 4);
    }
  }
}

}  // namespace
