// HeapCheck.h - bytes the process's heaps have handed out, for the leak
// checks, and the soundness of the Windows heaps.
//
// Counted three ways: the C library's own figures (glibc), the sanitizer
// allocator's live bytes (AddressSanitizer builds), and a walk of every heap
// of the process (Windows, wine included: the C runtime's heap and the
// process heap behind the movable blocks).  Where it cannot count (another
// C library, or Windows heaps whose free checks hold freed blocks back)
// heapUncounted() gives the reason, for a test to report as its skip.
#ifndef CORVANE_TESTS_HEAP_CHECK_H
#define CORVANE_TESTS_HEAP_CHECK_H

#include <cstddef>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_HEAP_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(CORVANE_HEAP_UNDER_ASAN)
#define CORVANE_HEAP_UNDER_ASAN 1
#endif

namespace cvtest {

// Bytes in blocks handed out and not yet freed, or 0 where that cannot be read.
size_t heapInUse();

// Null where heapInUse() counts, else why it cannot.
const char* heapUncounted();

// The heap's own caches keep a few freed chunks counted as in use; after
// two rounds of the same sequence they have settled.  Every block the
// plug-in takes in the checked scenarios is larger than this (the column
// definition buffer alone is 64,000 bytes, the texts several kilobytes);
// smaller ones, such as the column references, are LeakSanitizer's.
constexpr size_t kHeapNoise = 2048;

// Runs `round` three times and gives the bytes the third round left in use
// beyond the second; where the heap cannot be read, runs it once and gives 0.
// Says once on the error stream why the heap is not counted.
void reportUncounted();

template <typename Round>
long long heapGrowth(Round&& round) {
  if (heapUncounted() != nullptr) {
    reportUncounted();
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
bool heapsIntact();

}  // namespace cvtest

#endif
