// HeapCheck.cpp - see HeapCheck.h.
#include "HeapCheck.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#elif defined(CORVANE_HEAP_UNDER_ASAN)
// The sanitizer runtime's count of live bytes; declared here because not
// every compiler ships the header that declares it.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#elif defined(__GLIBC__)
#include <malloc.h>
#define CORVANE_HEAP_MALLINFO 1
#endif

namespace cvtest {

#ifdef _WIN32
namespace {
size_t busyBytes(HANDLE heap) {
  size_t bytes = 0;
  if (!HeapLock(heap)) return 0;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry))
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) bytes += entry.cbData;
  HeapUnlock(heap);
  return bytes;
}

// Whether a freed block still shows as in use: with the heap's free checks
// on (the Windows stage's GlobalFlag), the heap holds freed blocks back to
// check them later, and a walk counts them with the live ones.
bool freedBlocksHeldBack() {
  HANDLE heap = GetProcessHeap();
  void* block = HeapAlloc(heap, 0, 4000);
  if (block == nullptr) return false;
  HeapFree(heap, 0, block);
  bool held = false;
  if (!HeapLock(heap)) return false;
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry))
    if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 && entry.lpData == block) held = true;
  HeapUnlock(heap);
  return held;
}
}  // namespace
#endif

size_t heapInUse() {
#ifdef _WIN32
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  size_t bytes = 0;
  for (DWORD i = 0; i < n && i < 64; ++i) bytes += busyBytes(heaps[i]);
  return bytes;
#elif defined(CORVANE_HEAP_UNDER_ASAN)
  return __sanitizer_get_current_allocated_bytes();
#elif defined(CORVANE_HEAP_MALLINFO)
  // Blocks this large are mapped, not taken from the arena: count both.
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#else
  return 0;
#endif
}

const char* heapUncounted() {
#if defined(_WIN32)
  static const bool heldBack = freedBlocksHeldBack();
  return heldBack ? "the heap's free checks hold freed blocks back, so a walk counts them as in use "
                    "(the Windows stage counts in a run without the checks)"
                  : nullptr;
#elif defined(CORVANE_HEAP_UNDER_ASAN) || defined(CORVANE_HEAP_MALLINFO)
  return nullptr;
#else
  return "this C library gives no count of the bytes its heap has handed out";
#endif
}

void reportUncounted() {
  static bool reported = false;
  const char* why = heapUncounted();
  if (reported || why == nullptr) return;
  reported = true;
  std::fprintf(stderr, "the bytes in use are not counted here: %s\n", why);
}

bool heapsIntact() {
#ifdef _WIN32
  HANDLE heaps[64];
  const DWORD n = GetProcessHeaps(64, heaps);
  for (DWORD i = 0; i < n && i < 64; ++i)
    if (!HeapValidate(heaps[i], 0, nullptr)) return false;
#endif
  return true;
}

}  // namespace cvtest
