// CellList.cpp - list cells in one character arena.
#include "CellList.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace corvane::host {

CellList::CellList(const CellList& other)
    : columns_(other.columns_),
      rows_(other.rows_),
      spans_(other.spans_),
      live_(other.live_),
      longest_(other.longest_) {
  // The copy holds the live text only, in row order.
  reallocate(static_cast<std::size_t>(other.live_), true, &other);
}

CellList& CellList::operator=(const CellList& other) {
  if (this != &other) {
    CellList copy(other);
    *this = std::move(copy);
  }
  return *this;
}

void CellList::reallocate(std::size_t capacity, bool dropDead, const CellList* from) {
  if (from == nullptr) from = this;
  std::unique_ptr<char32_t[]> fresh(capacity != 0 ? new char32_t[capacity + kReadSlack] : nullptr);
  std::size_t used = 0;
  if (dropDead) {
    for (Span& s : spans_) {
      if (s.length != 0)
        std::memcpy(fresh.get() + used, from->chars_.get() + s.offset, s.length * sizeof(char32_t));
      s.offset = used;
      used += s.length;
    }
  } else {
    used = from->used_;
    if (used != 0) std::memcpy(fresh.get(), from->chars_.get(), used * sizeof(char32_t));
  }
  chars_ = std::move(fresh);
  used_ = used;
  capacity_ = capacity;
}

void CellList::makeRoom(std::size_t length) {
  if (length <= capacity_ - used_) return;
  const std::size_t live = static_cast<std::size_t>(live_);
  if (length > SIZE_MAX / (4 * sizeof(char32_t)) - used_) throw std::bad_alloc();
  // Mostly dead text: keep only the live cells, with room to spare.
  const bool dropDead = used_ - live > live;
  const std::size_t needed = (dropDead ? live : used_) + length;
  const std::size_t grown = dropDead ? 2 * needed : std::max(capacity_ + capacity_ / 2, needed);
  reallocate(std::max<std::size_t>(grown, 64), dropDead, nullptr);
}

void CellList::setCell(std::size_t row, std::size_t column, std::u32string_view text) {
  // A text from this very arena could move while room is made: copy it first.
  if (!text.empty() && text.data() >= chars_.get() && text.data() < chars_.get() + capacity_) {
    const std::u32string copy(text);
    setCell(row, column, copy);
    return;
  }
  char32_t* out = prepareCell(row, column, text.size());
  if (!text.empty()) std::memcpy(out, text.data(), text.size() * sizeof(char32_t));
}

void CellList::appendRow(const std::u32string_view* cells, std::size_t count) {
  const std::size_t columns = columns_.size();
  count = std::min(count, columns);
  std::size_t length = 0;
  for (std::size_t i = 0; i < count; ++i) length += cells[i].size();
  makeRoom(length);
  spans_.resize(spans_.size() + columns);
  Span* row = spans_.data() + rows_ * columns;
  ++rows_;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t n = cells[i].size();
    row[i].offset = used_;
    row[i].length = n;
    longest_ = std::max(longest_, n);
    if (n != 0) std::memcpy(chars_.get() + used_, cells[i].data(), n * sizeof(char32_t));
    used_ += n;
  }
  live_ += length;
  ++changes_;
}

void CellList::appendRow(const std::vector<std::u32string>& cells) {
  const std::size_t count = std::min(cells.size(), columns_.size());
  std::vector<std::u32string_view> views(cells.begin(), cells.begin() + static_cast<std::ptrdiff_t>(count));
  appendRow(views.data(), views.size());
}

void CellList::endRow() {
  const std::size_t end = (rows_ + 1) * columns_.size();
  for (std::size_t i = end; i < spans_.size(); ++i) live_ -= spans_[i].length;
  spans_.resize(end);  // empty cells for the missing ones (their offset is 0)
  ++rows_;
  ++changes_;
}

void CellList::resizeRows(std::size_t rows) {
  const std::size_t columns = columns_.size();
  if (rows < rows_) {
    for (std::size_t i = rows * columns; i < spans_.size(); ++i) live_ -= spans_[i].length;
  }
  spans_.resize(rows * columns);
  rows_ = rows;
  if (live_ == 0) used_ = 0;
  ++changes_;
}

void CellList::clearRows() noexcept {
  spans_.clear();
  longest_ = 0;
  rows_ = 0;
  used_ = 0;
  live_ = 0;
  ++changes_;
}

void CellList::reserve(std::size_t rows, std::size_t characters) {
  spans_.reserve(rows * columns_.size());
  if (characters > capacity_ - used_) reallocate(used_ + characters, false, nullptr);
}

std::vector<std::vector<std::u32string>> CellList::toRows() const {
  std::vector<std::vector<std::u32string>> out(rows_);
  for (std::size_t r = 0; r < rows_; ++r) {
    out[r].reserve(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) out[r].emplace_back(cell(r, c));
  }
  return out;
}

}  // namespace corvane::host
