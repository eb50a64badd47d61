// HeapCheck.h - bytes the C heap has handed out, for the leak checks of the
// normal builds (the sanitizer builds leave this to LeakSanitizer, and
// platforms without mallinfo2 (MinGW) to the Linux runs), and the soundness
// of the Windows heaps.
#ifndef CORVANE_TESTS_HEAP_CHECK_H
#define CORVANE_TESTS_HEAP_CHECK_H

#include <cstddef>

#ifdef _WIN32
#include <windows.h>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_HEAP_UNDER_ASAN 1
#endif
#endif
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(CORVANE_HEAP_UNDER_ASAN)
#include <malloc.h>
#define CORVANE_COUNT_HEAP 1
#endif

namespace cvtest {

// Arena and mapped blocks in use, or 0 where that cannot be read.
inline size_t heapInUse() {
#ifdef CORVANE_COUNT_HEAP
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#else
  return 0;
#endif
}

// The heap's own caches keep a few freed chunks counted as in use; after
// two rounds of the same sequence they have settled.  Every block the
// plug-in takes in the checked scenarios is larger than this (the column
// definition buffer alone is 64,000 bytes, the texts several kilobytes);
// smaller ones, such as the column references, are LeakSanitizer's.
constexpr size_t kHeapNoise = 2048;

// Whether heapInUse() counts anything here.
constexpr bool kHeapCounted =
#ifdef CORVANE_COUNT_HEAP
    true;
#else
    false;
#endif

// Runs `round` three times and gives the bytes the third round left in use
// beyond the second; where the heap cannot be read, runs it once and gives 0.
template <typename Round>
long long heapGrowth(Round&& round) {
  if (!kHeapCounted) {
    round();
    return 0;
  }
  round();
  round();
  const size_t before = heapInUse();
  round();
  return static_cast<long long>(heapInUse()) - static_cast<long long>(before);
}

// Whether every heap of the process is sound: block headers, and where the
// Windows stage switches the heap's tail and free checks on, the bytes past
// each block and inside each freed one.  Elsewhere the sanitizer build
// checks this on every access.
inline bool heapsIntact() {
#ifdef _WIN32
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < n && i < 64; ++i)
    if (!HeapValidate(heaps[i], 0, nullptr)) return false;
#endif
  return true;
}

}  // namespace cvtest

#endif
