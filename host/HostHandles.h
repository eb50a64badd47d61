// HostHandles.h - movable memory blocks as the host sees them.
//
// A plug-in hands the host the address of its handle variable when it asks
// for a whole text (value kind 8).  The host may grow the block, replace it
// or drop it, and writes the new handle back into the variable.  On Windows a
// handle is an HGLOBAL; elsewhere it is the address of a malloc'd
// CorvanePortableHandle record whose data starts at byte 8.  Both sides use
// the same allocator, so either may resize or free what the other made.
#ifndef CORVANE_HOST_HANDLES_H
#define CORVANE_HOST_HANDLES_H

#include <cstddef>
#include <cstdint>

namespace corvane::host {

using Handle = void*;

// The largest data size a handle may have: sizes are signed 32-bit byte
// counts, and off Windows the record adds an 8-byte header.
constexpr std::size_t kMaxHandleSize = 0x7FFFFFFF - 8;

// A new zero-filled block of `size` bytes, or null.
Handle newHandle(std::size_t size) noexcept;
// A new block of `size` bytes whose first `overwritten` bytes the caller
// writes at once: only the bytes after them need to be zero-filled.
Handle newHandleToOverwrite(std::size_t size, std::size_t overwritten) noexcept;
// Frees a block; null is ignored.
void disposeHandle(Handle handle) noexcept;
// The block's data size in bytes; 0 for null.
std::size_t handleSize(Handle handle) noexcept;
// Resizes the block that *variable holds to `size` bytes.  Bytes added by
// growing are zero-filled; the first min(old, new) bytes are kept.  On
// success *variable holds the (possibly moved) handle and true is returned;
// on failure the variable and the old block are unchanged.
bool resizeHandle(Handle* variable, std::size_t size) noexcept;
// Grows the block that *variable holds to at least `needed` bytes: to half
// as much again as its size when that is more, so that a block grown again
// and again is moved only a few times; when so much is refused, to exactly
// `needed`.  Never beyond kMaxHandleSize.  Fails like resizeHandle.
bool growHandle(Handle* variable, std::size_t needed) noexcept;
// Gives *variable a block of at least `needed` bytes whose contents do not
// matter (the caller overwrites the first `needed` bytes; the rest are
// zero): a new block sized like growHandle's, the old one freed, since
// copying it would be wasted; a block already large enough stays.  When no
// new block can be had, the old one is resized to `needed`.
bool renewHandle(Handle* variable, std::size_t needed) noexcept;
// Address of the data while locked, or null.
void* lockHandle(Handle handle) noexcept;
void unlockHandle(Handle handle) noexcept;

// Keeps a block locked for its lifetime.
class LockedHandle {
 public:
  explicit LockedHandle(Handle handle) noexcept : handle_(handle), data_(lockHandle(handle)) {}
  ~LockedHandle() {
    if (data_ != nullptr) unlockHandle(handle_);
  }
  LockedHandle(const LockedHandle&) = delete;
  LockedHandle& operator=(const LockedHandle&) = delete;

  unsigned char* data() const noexcept { return static_cast<unsigned char*>(data_); }
  explicit operator bool() const noexcept { return data_ != nullptr; }

 private:
  Handle handle_;
  void* data_;
};

// Owns one block (frees it on destruction).  address() is what a plug-in
// passes for a kind 8 read: the host may store a different handle, or null,
// through it.
class OwnedHandle {
 public:
  OwnedHandle() noexcept = default;
  explicit OwnedHandle(std::size_t size) noexcept : handle_(newHandle(size)) {}
  ~OwnedHandle() { disposeHandle(handle_); }
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      disposeHandle(handle_);
      handle_ = other.release();
    }
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  Handle get() const noexcept { return handle_; }
  Handle* address() noexcept { return &handle_; }
  std::size_t size() const noexcept { return handleSize(handle_); }
  Handle release() noexcept {
    Handle h = handle_;
    handle_ = nullptr;
    return h;
  }

 private:
  Handle handle_ = nullptr;
};

}  // namespace corvane::host

#endif
