// CellList.h - the cells of a host list without a heap string per cell.
//
// All characters of a list live in one arena; a cell is an offset and a
// length into it, row by row.  Reading a cell gives a view into the arena,
// valid until the list changes.  A cell that is written again reuses its
// place when the new text fits there and goes to the end of the arena
// otherwise; the arena is compacted when more than half of it is dead text
// and it would have to grow.
#ifndef CORVANE_HOST_CELL_LIST_H
#define CORVANE_HOST_CELL_LIST_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::host {

class CellList {
 public:
  CellList() = default;
  explicit CellList(std::vector<std::u32string> columns) : columns_(std::move(columns)) {}
  CellList(const CellList& other);
  CellList& operator=(const CellList& other);
  CellList(CellList&&) noexcept = default;
  CellList& operator=(CellList&&) noexcept = default;

  const std::vector<std::u32string>& columns() const noexcept { return columns_; }
  std::size_t columnCount() const noexcept { return columns_.size(); }
  std::size_t rowCount() const noexcept { return rows_; }
  // Characters in live cells.
  std::uint64_t characters() const noexcept { return live_; }
  // Goes up with every change of a row or a cell.
  std::uint64_t changes() const noexcept { return changes_; }
  // No cell is longer than this (the longest written since the rows were
  // last cleared), so that a look for long cells can often be skipped.
  std::size_t longestBound() const noexcept { return longest_; }

  // Characters past the end of any cell's text that may be read (not
  // used): a reader may take a cell in whole blocks of sixteen bytes.
  static constexpr std::size_t kReadSlack = 16;

  // Rows and columns count from 0; both must be in range.
  std::u32string_view cell(std::size_t row, std::size_t column) const noexcept {
    const Span& s = spans_[row * columns_.size() + column];
    return {chars_.get() + s.offset, s.length};
  }
  void setCell(std::size_t row, std::size_t column, std::u32string_view text);
  // Room for `length` characters as the cell's new text, to be filled by the
  // caller before the list is used again.  The room never overlaps text of
  // another cell.
  char32_t* prepareCell(std::size_t row, std::size_t column, std::size_t length) {
    Span& s = spans_[row * columns_.size() + column];
    ++changes_;
    if (length > s.length) {
      if (length > capacity_ - used_) makeRoom(length);  // may move the text, not the span
      s.offset = used_;
      used_ += length;
    }
    live_ = live_ - s.length + length;
    s.length = length;
    longest_ = std::max(longest_, length);
    return chars_.get() + s.offset;
  }

  // Appends a row of `count` cells; missing cells are empty, cells past the
  // column count are dropped.
  void appendRow(const std::u32string_view* cells, std::size_t count);
  void appendRow(std::initializer_list<std::u32string_view> cells) { appendRow(cells.begin(), cells.size()); }
  void appendRow(const std::vector<std::u32string_view>& cells) { appendRow(cells.data(), cells.size()); }
  void appendRow(const std::vector<std::u32string>& cells);
  // Building a row a cell at a time, as a reader finds them: room for a
  // cell of at most `most` characters at the end of the arena (valid until
  // the next call of cellRoom), then the cell's length once it is written
  // there.  endRow() ends the row: missing cells are empty, cells past the
  // column count are dropped.
  char32_t* cellRoom(std::size_t most) {
    if (most > capacity_ - used_) makeRoom(most);
    return chars_.get() + used_;
  }
  void addCell(std::size_t length) {
    appendSpan(used_, length);
    used_ += length;
    live_ += length;
  }
  // Or several cells from one stretch written in the room: each by its
  // offset in the room and its length, in order, without overlapping; then
  // the characters of the room in use, the cells' and what lies between
  // them (dead text from then on).
  void addCellAt(std::size_t offset, std::size_t length) {
    appendSpan(used_ + offset, length);
    live_ += length;
  }
  void useRoom(std::size_t characters) { used_ += characters; }
  // Cells added to the row not yet ended.
  std::size_t pendingCells() const noexcept { return spans_.size() - rows_ * columns_.size(); }
  void endRow();

  // Adds empty rows or removes rows from the end.
  void resizeRows(std::size_t rows);
  // Removes every row; the memory is kept for the next rows.
  void clearRows() noexcept;
  void reserve(std::size_t rows, std::size_t characters);

  // Every row as strings, for comparing and printing.
  std::vector<std::vector<std::u32string>> toRows() const;

 private:
  struct Span {
    std::size_t offset = 0;
    std::size_t length = 0;
  };
  // A cell record written field by field in its place: built whole and
  // pushed, it goes through the stack as two stores read back as one load,
  // which waits for both (the cell loop of a reader stalled there).
  void appendSpan(std::size_t offset, std::size_t length) {
    Span& s = spans_.emplace_back();
    s.offset = offset;
    s.length = length;
    longest_ = std::max(longest_, length);
  }
  // Room for `length` more characters at the end of the arena; compacts
  // first when the arena would grow while mostly dead.
  void makeRoom(std::size_t length);
  // A new arena of `capacity` characters holding the text of `from`'s
  // arena (this list's when null): all of it, or only the live cells, in
  // row order.
  void reallocate(std::size_t capacity, bool dropDead, const CellList* from);

  std::vector<std::u32string> columns_;
  std::size_t rows_ = 0;
  std::vector<Span> spans_;  // rows_ * columns_.size(), row by row
  std::unique_ptr<char32_t[]> chars_;
  std::size_t used_ = 0;  // characters of the arena in use, live or dead
  std::size_t capacity_ = 0;
  std::uint64_t live_ = 0;
  std::uint64_t changes_ = 0;
  std::size_t longest_ = 0;
};

}  // namespace corvane::host

#endif
