// ByteBuffer.h - a byte buffer whose growth leaves the new bytes unset.
//
// A batch's output is written through a cursor into room made ahead of it,
// up to four bytes a character.  A std::string would first fill that room
// with zeros, and the room is most of what a batch writes.
#ifndef CORVANE_TOOLS_BYTE_BUFFER_H
#define CORVANE_TOOLS_BYTE_BUFFER_H

#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::cli {

// Constructs an element without a value as `new (p) T` does: a char is left
// as the memory held it.
template <class T>
struct UnsetAllocator : std::allocator<T> {
  using value_type = T;
  template <class U>
  struct rebind {
    using other = UnsetAllocator<U>;
  };
  UnsetAllocator() = default;
  template <class U>
  UnsetAllocator(const UnsetAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using ByteBuffer = std::vector<char, UnsetAllocator<char>>;

inline std::string_view view(const ByteBuffer& bytes) { return {bytes.data(), bytes.size()}; }

}  // namespace corvane::cli

#endif
