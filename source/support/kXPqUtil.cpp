/* kXPqUtil.cpp - fixed and movable memory blocks.
 *
 * On Windows these are the global-memory functions.  Elsewhere a movable
 * block is the record of CorvanePortableHandle: malloc'd, its data at byte
 * 8, so that a host can grow or replace it with the C library as well. */
#include "kXPqUtil.h"

#include <stdlib.h>
#include <string.h>

#include "corvane/CorvaneAbi.h"

#if defined(_WIN32)
#include <windows.h>
#endif

XPSize XPByteCount(int64_t n, int32_t unit, int64_t extra) {
  if (n < 0 || extra < 0) return -1;
  int64_t bytes = n * unit + extra; /* n < 2^31, unit <= 4: no overflow */
  return bytes > XP_SIZE_MAX ? -1 : (XPSize)bytes;
}

#if defined(_WIN32)

void* NewXPPointer(XPSize size, XPFaultSite site) {
  if (size < 0 || XPFaultPoint(site)) return nullptr;
  return GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size == 0 ? 1 : (SIZE_T)size);
}

void DisposeXPPointer(void* block) { GlobalFree(block); }

XPHandle NewXPHandle(XPSize size, XPFaultSite site) {
  if (size < 0 || XPFaultPoint(site)) return nullptr;
  UINT flags = size <= kXPZeroFilledBytes ? (GMEM_MOVEABLE | GMEM_ZEROINIT) : GMEM_MOVEABLE;
  return GlobalAlloc(flags, (SIZE_T)size);
}

int ResizeXPHandle(XPHandle* handle, XPSize size, XPFaultSite site) {
  if (size < 0 || XPFaultPoint(site)) return 1;
  HGLOBAL grown = GlobalReAlloc(*handle, (SIZE_T)size, GMEM_MOVEABLE | GMEM_ZEROINIT);
  if (grown == nullptr) return 1;
  *handle = grown;
  return 0;
}

void* LockXPHandle(XPHandle handle, XPFaultSite site) {
  if (XPFaultPoint(site)) return nullptr;
  return GlobalLock(handle);
}

void UnlockXPHandle(XPHandle handle) { GlobalUnlock(handle); }

void DisposeXPHandle(XPHandle handle) { GlobalFree(handle); }

XPSize XPHandleSize(XPHandle handle) {
  if (handle == nullptr) return 0;
  SIZE_T size = GlobalSize(handle);
  return size > (SIZE_T)XP_SIZE_MAX ? XP_SIZE_MAX : (XPSize)size;
}

void XPBeep(uint32_t frequency, uint32_t milliseconds) { Beep(frequency, milliseconds); }

#else

static CorvanePortableHandle* recordOf(XPHandle handle) {
  return static_cast<CorvanePortableHandle*>(handle);
}

void* NewXPPointer(XPSize size, XPFaultSite site) {
  if (size < 0 || XPFaultPoint(site)) return nullptr;
  return calloc(1, size == 0 ? 1 : (size_t)size);
}

void DisposeXPPointer(void* block) { free(block); }

XPHandle NewXPHandle(XPSize size, XPFaultSite site) {
  if (size < 0 || size > XP_HANDLE_SIZE_MAX || XPFaultPoint(site)) return nullptr;
  size_t total = (size_t)size + CORVANE_HANDLE_HEADER;
  CorvanePortableHandle* record =
      static_cast<CorvanePortableHandle*>(size <= kXPZeroFilledBytes ? calloc(1, total) : malloc(total));
  if (record == nullptr) return nullptr;
  record->size = size;
  record->locks = 0;
  return record;
}

int ResizeXPHandle(XPHandle* handle, XPSize size, XPFaultSite site) {
  if (size < 0 || size > XP_HANDLE_SIZE_MAX || XPFaultPoint(site)) return 1;
  CorvanePortableHandle* old = recordOf(*handle);
  if (old == nullptr) return 1;
  XPSize oldSize = old->size;
  CorvanePortableHandle* grown =
      static_cast<CorvanePortableHandle*>(realloc(old, (size_t)size + CORVANE_HANDLE_HEADER));
  if (grown == nullptr) return 1;
  if (size > oldSize) memset((char*)grown + CORVANE_HANDLE_HEADER + oldSize, 0, (size_t)(size - oldSize));
  grown->size = size;
  *handle = grown;
  return 0;
}

void* LockXPHandle(XPHandle handle, XPFaultSite site) {
  if (handle == nullptr || XPFaultPoint(site)) return nullptr;
  ++recordOf(handle)->locks;
  return (char*)handle + CORVANE_HANDLE_HEADER;
}

void UnlockXPHandle(XPHandle handle) {
  if (handle != nullptr && recordOf(handle)->locks > 0) --recordOf(handle)->locks;
}

void DisposeXPHandle(XPHandle handle) { free(handle); }

XPSize XPHandleSize(XPHandle handle) { return handle == nullptr ? 0 : recordOf(handle)->size; }

void XPBeep(uint32_t, uint32_t) {}

#endif
