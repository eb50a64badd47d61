// TextBuffer.h - a text whose memory outlives shorter contents.
//
// A field of the host holds one.  A command that writes a long result again
// and again (every run of a benchmark, every batch of a stream) then reuses
// the memory of the previous result instead of mapping fresh pages, and the
// host fills it without zeroing it first.
#ifndef CORVANE_HOST_TEXT_BUFFER_H
#define CORVANE_HOST_TEXT_BUFFER_H

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace corvane::host {

class TextBuffer {
 public:
  TextBuffer() = default;
  explicit TextBuffer(std::u32string_view text) { assign(text); }
  TextBuffer(TextBuffer&&) noexcept = default;
  TextBuffer& operator=(TextBuffer&&) noexcept = default;

  std::u32string_view view() const noexcept { return {data_.get(), size_}; }
  std::size_t size() const noexcept { return size_; }

  // A text written in place (at the start of what resize() returned) is
  // kept where it is.
  void assign(std::u32string_view text) {
    if (text.data() == data_.get() && text.size() <= capacity_) {
      size_ = text.size();
      return;
    }
    char32_t* out = resize(text.size(), 0);
    if (!text.empty()) std::memcpy(out, text.data(), text.size() * sizeof(char32_t));
  }
  // Makes the text `size` characters long and returns its first character.
  // The first min(keep, size) characters of the old text are kept; the
  // others are unspecified until the caller writes them.  Grows by half at
  // the least.
  char32_t* resize(std::size_t size, std::size_t keep) {
    if (size > capacity_) {
      if (size > SIZE_MAX / (2 * sizeof(char32_t))) throw std::bad_alloc();
      const std::size_t capacity = std::max(size, capacity_ + capacity_ / 2);
      std::unique_ptr<char32_t[]> grown(new char32_t[capacity]);
      keep = std::min({keep, size_, size});
      if (keep != 0) std::memcpy(grown.get(), data_.get(), keep * sizeof(char32_t));
      data_ = std::move(grown);
      capacity_ = capacity;
    }
    size_ = size;
    return data_.get();
  }

 private:
  std::unique_ptr<char32_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace corvane::host

#endif
