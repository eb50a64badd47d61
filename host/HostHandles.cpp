// HostHandles.cpp - movable blocks: HGLOBAL on Windows, malloc'd records
// elsewhere.
#include "HostHandles.h"

#include "corvane/CorvaneAbi.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace corvane::host {

#ifdef _WIN32

Handle newHandle(std::size_t size) noexcept {
  if (size > kMaxHandleSize) return nullptr;
  return GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
}

// The whole block is zero-filled, the part to be overwritten too.
Handle newHandleToOverwrite(std::size_t size, std::size_t) noexcept { return newHandle(size); }

void disposeHandle(Handle handle) noexcept {
  if (handle != nullptr) GlobalFree(handle);
}

std::size_t handleSize(Handle handle) noexcept { return handle == nullptr ? 0 : GlobalSize(handle); }

bool resizeHandle(Handle* variable, std::size_t size) noexcept {
  if (variable == nullptr || *variable == nullptr || size > kMaxHandleSize) return false;
  HGLOBAL moved = GlobalReAlloc(*variable, size, GMEM_MOVEABLE | GMEM_ZEROINIT);
  if (moved == nullptr) return false;
  *variable = moved;
  return true;
}

void* lockHandle(Handle handle) noexcept { return handle == nullptr ? nullptr : GlobalLock(handle); }

void unlockHandle(Handle handle) noexcept {
  if (handle != nullptr) GlobalUnlock(handle);
}

#else

namespace {

CorvanePortableHandle* record(Handle handle) noexcept { return static_cast<CorvanePortableHandle*>(handle); }

unsigned char* dataOf(Handle handle) noexcept {
  return static_cast<unsigned char*>(handle) + CORVANE_HANDLE_HEADER;
}

}  // namespace

Handle newHandleToOverwrite(std::size_t size, std::size_t overwritten) noexcept {
  if (size > kMaxHandleSize) return nullptr;
  overwritten = std::min(overwritten, size);
  void* block = overwritten == 0 ? std::calloc(1, CORVANE_HANDLE_HEADER + size)
                                 : std::malloc(CORVANE_HANDLE_HEADER + size);
  if (block == nullptr) return nullptr;
  if (overwritten != 0) std::memset(dataOf(block) + overwritten, 0, size - overwritten);
  record(block)->size = static_cast<int32_t>(size);
  record(block)->locks = 0;
  return block;
}

Handle newHandle(std::size_t size) noexcept { return newHandleToOverwrite(size, 0); }

void disposeHandle(Handle handle) noexcept { std::free(handle); }

std::size_t handleSize(Handle handle) noexcept {
  if (handle == nullptr) return 0;
  const int32_t size = record(handle)->size;
  return size < 0 ? 0 : static_cast<std::size_t>(size);
}

bool resizeHandle(Handle* variable, std::size_t size) noexcept {
  if (variable == nullptr || *variable == nullptr || size > kMaxHandleSize) return false;
  const std::size_t old = handleSize(*variable);
  void* moved = std::realloc(*variable, CORVANE_HANDLE_HEADER + size);
  if (moved == nullptr) return false;
  if (size > old) std::memset(dataOf(moved) + old, 0, size - old);
  record(moved)->size = static_cast<int32_t>(size);
  *variable = moved;
  return true;
}

void* lockHandle(Handle handle) noexcept {
  if (handle == nullptr) return nullptr;
  ++record(handle)->locks;
  return dataOf(handle);
}

void unlockHandle(Handle handle) noexcept {
  if (handle != nullptr && record(handle)->locks > 0) --record(handle)->locks;
}

#endif

namespace {
// The size a block of `size` bytes grows to when it needs `needed`.
std::size_t grownSize(std::size_t size, std::size_t needed) noexcept {
  return std::max(needed, size + std::min(size / 2, kMaxHandleSize - size));
}
}  // namespace

bool growHandle(Handle* variable, std::size_t needed) noexcept {
  if (variable == nullptr || *variable == nullptr || needed > kMaxHandleSize) return false;
  const std::size_t size = handleSize(*variable);
  if (size >= needed) return true;
  const std::size_t grown = grownSize(size, needed);
  if (grown > needed && resizeHandle(variable, grown)) return true;
  return resizeHandle(variable, needed);
}

bool renewHandle(Handle* variable, std::size_t needed) noexcept {
  if (variable == nullptr || *variable == nullptr || needed > kMaxHandleSize) return false;
  const std::size_t size = handleSize(*variable);
  if (size >= needed) return true;
  const std::size_t grown = grownSize(size, needed);
  Handle fresh = newHandleToOverwrite(grown, needed);
  if (fresh == nullptr && grown > needed) fresh = newHandleToOverwrite(needed, needed);
  if (fresh == nullptr) return resizeHandle(variable, needed);
  disposeHandle(*variable);
  *variable = fresh;
  return true;
}

}  // namespace corvane::host
