// FormattedSplit.h - where a formatted text can be cut into batches that
// FormattedStringToList reads exactly as it reads the whole text.
//
// The command finds rows by searching, from one place to the end of the
// text, for the strings the format is made of: it counts the rows by the
// occurrences of the row separator (the last column's suffix, rowSuffix,
// rowDelim, rowPrefix and the first column's prefix), taken one after the
// other without overlap, then reads cell after cell, each ending at the
// first occurrence of its separator.  A cut just after the rowDelim of a
// counted row separator gives two texts whose rows add up to the whole
// text's, and the second begins where the whole text's next row begins, as
// long as the first text's cells end where the same searches end them in the
// whole text.  That is checked after the command has read the first text,
// from the cells it gave: each one must end at its own separator, the last
// row at the cut, and no separator may run across the cut so that the
// whole text would have found it first.  A text that fails the check (a
// cell holding a separator, a row with more or fewer cells than the list
// has columns) is not cut there.
#ifndef CORVANE_TOOLS_FORMATTED_SPLIT_H
#define CORVANE_TOOLS_FORMATTED_SPLIT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CellList.h"

namespace corvane::cli {

// The six format strings of the formatted commands.
struct Format {
  std::u32string rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim;
};

// The strings the command searches for, for a list of `columns` columns.
struct FormatShape {
  FormatShape(const Format& format, std::size_t columns);

  std::size_t columns = 0;
  std::vector<std::u32string> prefixes;  // of each column
  std::vector<std::u32string> cellEnds;  // what ends cell i of a row, i < columns - 1
  std::u32string rowStart, rowEnd, rowSep;
  bool hasPrefix = false;  // colPrefix is not empty: every cell gets the prefix step
  bool cuttable = false;   // both delimiters are given: the command reads the text at all
  // How much of the input after a cut the check needs: more than any
  // string searched for holds, and more than the rowDelim the command may
  // add at the end of the text.
  std::size_t lookahead = 0;
};

// Finds the row separators the command counts, one after the other, in a
// text that grows at its end.  It works on the characters, or on the bytes
// of the text as read with the separator encoded the same way: in UTF-8 a
// character's bytes stand only where the character does.
template <class Char>
class BasicRowSeparatorScan {
 public:
  // `separator` is the row separator, `start` the length of the rowStart a
  // text begins with.
  BasicRowSeparatorScan(std::basic_string<Char> separator, std::size_t start);
  // Starts again on a text that begins with a row (rowStart): the search
  // goes on behind it.
  void restart() { from_ = start_; }
  // The start of the next occurrence in `text` (which begins where the
  // last restart() was made), or npos when the text as it stands holds
  // none; then a later call with more text goes on from where this stopped.
  std::size_t next(std::basic_string_view<Char> text);
  // Moves the start of the text `by` characters on (after a cut).
  void shift(std::size_t by) { from_ = from_ >= by ? from_ - by : 0; }

 private:
  std::basic_string<Char> separator_;
  std::size_t start_ = 0;
  std::size_t anchor_ = 0;  // the character of the separator looked for first
  std::size_t from_ = 0;
};

using RowSeparatorScan = BasicRowSeparatorScan<char32_t>;
using RowSeparatorByteScan = BasicRowSeparatorScan<char>;

// The occurrences of the row separator the command counts in a whole text
// (after it has added its final rowDelim), from behind rowStart.
std::size_t countRowSeparators(const FormatShape& shape, std::u32string_view text);
template <class Char>
std::size_t countRowSeparators(BasicRowSeparatorScan<Char> scan, std::basic_string_view<Char> text);

// Checks a batch that ends just after the rowDelim of a counted row
// separator, followed in the input by `lookahead` (at least shape.lookahead
// characters), against the rows the command read from it into `cells`,
// where `expectedRows` row separators stand.  Nothing when the whole text
// reads the same rows there and goes on behind the cut; otherwise why not,
// for a message.
std::optional<std::string> checkCut(const FormatShape& shape, std::u32string_view text,
                                    std::u32string_view lookahead, const corvane::host::CellList& cells,
                                    std::size_t expectedRows);

}  // namespace corvane::cli

#endif
