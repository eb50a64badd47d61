// Soak: cycles of load, all four commands with growth of the working
// buffers, and unload, in both builds, with the memory in use at the end
// equal to that at the start.  The suite runs a short soak; the long one
// (100,000 cycles unless CORVANE_SOAK_CYCLES says otherwise) is disabled by
// default and run on its own:
//   soak_test --gtest_also_run_disabled_tests --gtest_filter='*LongSoak*'
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "FormattedOracle.h"
#include "HeapCheck.h"
#include "PluginFixture.h"

#if defined(__linux__)
#include <unistd.h>
#endif
#if defined(__GLIBC__) && !defined(CORVANE_HEAP_UNDER_ASAN)
#include <malloc.h>
#define CORVANE_GLIBC_HEAP 1
#endif

namespace cvtest {
namespace {

using corvane::host::ascii;

// The process's resident size in bytes, 0 where it cannot be read.
size_t residentBytes() {
#if defined(__linux__)
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long size = 0, resident = 0;
  const int read = std::fscanf(f, "%lu %lu", &size, &resident);
  std::fclose(f);
  return read == 2 ? resident * static_cast<size_t>(sysconf(_SC_PAGESIZE)) : 0;
#else
  return 0;
#endif
}

// Resident size follows what the plug-in keeps only with the C library's
// own heap: under AddressSanitizer freed memory waits in quarantine.
constexpr bool kResidentComparable =
#ifdef CORVANE_GLIBC_HEAP
    true;
#else
    false;
#endif

const FormatStrings kFormats{U"<", U">", U"\n", U"VARIANT:[,(", U"VARIANT:],)", U"|"};

class Soak : public PluginTest {
 protected:
  // One cycle: load; ListToString past the ScratchBuffer's first size and
  // StringToList back; ListToFormattedString and FormattedStringToList back,
  // every `bigEvery` cycles past the BigBuffer's first size; unload.
  // False when a command did not give its full result.
  bool cycle(Host& h, const Rows& rows, const Rows& bigRows, bool big) {
    h.load();
    h.setList(P1, {U"a", U"b"}, rows);
    h.setText(P3, U",");
    h.setCommand(kLts);
    h.setParamCount(3);
    h.execute();
    bool ok = h.result() == 0;
    h.setText(P1, h.text(P2));
    h.setList(P2, {U"a", U"b"}, {});
    h.setCommand(kStl);
    h.execute();
    ok = ok && h.result() == 0 && h.list(P2).rows == rows;

    const Rows& formatted = big ? bigRows : rows;
    h.setList(P1, {U"a", U"b"}, formatted);
    setFormats(h, kFormats);
    h.setCommand(kLtfs);
    h.setParamCount(8);
    h.execute();
    ok = ok && h.result() == 0;
    h.setText(P1, h.text(P2));
    h.setList(P2, {U"a", U"b"}, {});
    h.setCommand(kFstl);
    h.execute();
    ok = ok && h.result() == 0 && h.list(P2).rows == formatted;
    h.unload();
    return ok && h.slot() == nullptr;
  }

  void soak(long cycles, long bigEvery) {
    // 130 rows of a 255-character cell and a number: past the
    // ScratchBuffer's 32,500 bytes in either build.
    Rows rows;
    for (int r = 0; r < 130; ++r)
      rows.push_back({std::u32string(255, static_cast<char32_t>(U'a' + r % 26)), ascii(std::to_string(r))});
    // Past the BigBuffer's first threshold: 5,242,880 bytes.
    Rows bigRows;
    const size_t bigCount = unicode() ? 45 : 170;
    for (size_t r = 0; r < bigCount; ++r) bigRows.push_back({std::u32string(32000, U'x'), U"y"});

#ifdef CORVANE_GLIBC_HEAP
    // A fixed threshold for mapping big blocks: left to adapt, the C library
    // keeps up to 64 MB of freed memory at the top of its heap, and resident
    // size would measure that rather than what the plug-in keeps.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
    Host h(shipped());
    // Warm up: the host's fields and the heap's caches reach their sizes.
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(cycle(h, rows, bigRows, true));
    const size_t heapStart = heapInUse();
    const size_t residentStart = residentBytes();
    const auto started = std::chrono::steady_clock::now();
    long failed = 0;
    for (long i = 1; i <= cycles; ++i)
      if (!cycle(h, rows, bigRows, bigEvery > 0 && i % bigEvery == 0)) ++failed;
    // End on a big cycle, as the warm-up did, so that the host holds the
    // same fields at both measurements.
    if (!cycle(h, rows, bigRows, true)) ++failed;
    const size_t heapEnd = heapInUse();
    const size_t residentEnd = residentBytes();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::cout << "[ soak     ] " << GetParam().file << ": " << cycles << " cycles in " << seconds
              << " s; heap " << heapStart << " -> " << heapEnd << " bytes; resident " << residentStart
              << " -> " << residentEnd << " bytes\n";
    RecordProperty("cycles", static_cast<int>(cycles));
    RecordProperty("heap_start", std::to_string(heapStart));
    RecordProperty("heap_end", std::to_string(heapEnd));
    RecordProperty("resident_start", std::to_string(residentStart));
    RecordProperty("resident_end", std::to_string(residentEnd));
    EXPECT_EQ(failed, 0) << "cycles in which a command did not give its full result";
    // The heap's caches move a few kilobytes either way; the smallest block
    // the plug-in takes is a 32-byte chunk, so keeping one a cycle would
    // show as 64,000 bytes after 2,000 cycles.
    if (const char* why = heapUncounted())
      std::cout << "[ soak     ] the bytes kept are not checked here: " << why << "\n";
    else
      EXPECT_LE(heapEnd, heapStart + 16384) << "bytes kept across the cycles";
    // Resident memory moves with the heap's trimming; what the plug-in
    // would keep across thousands of cycles would be far more than this.
    // Under AddressSanitizer freed memory waits in quarantine, and
    // LeakSanitizer judges at exit instead.
    if (kResidentComparable) {
      EXPECT_LE(residentEnd, residentStart + (16u << 20)) << "resident size grew";
    }
  }
};

TEST_P(Soak, TwoThousandCycles) { soak(2000, 1000); }

TEST_P(Soak, DISABLED_LongSoak) {
  long cycles = 100000;
  if (const char* env = std::getenv("CORVANE_SOAK_CYCLES")) cycles = std::strtol(env, nullptr, 10);
  ASSERT_GT(cycles, 0);
  soak(cycles, 500);
}

CORVANE_BOTH_BUILDS(Soak);

}  // namespace
}  // namespace cvtest
