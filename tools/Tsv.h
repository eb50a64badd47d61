// Tsv.h - tab-separated values as databases export them: one record per
// line, cells separated by tabs, no quoting.  A quote is an ordinary
// character; a tab, line feed, carriage return or backslash inside a cell is
// written as \t, \n, \r or \\.
//
// The codec works on one record at a time, on bytes: UTF-8 (or any
// encoding in which these five characters are single ASCII bytes).
#ifndef CORVANE_TOOLS_TSV_H
#define CORVANE_TOOLS_TSV_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

// Appends the cell to `out` with its tabs, line breaks and backslashes
// escaped.
void appendTsvCell(std::string_view cell, std::string& out);

struct TsvProblem {
  std::size_t byteOffset = 0;  // in the record
  std::string what;
};

// Reads the records of a text one at a time.  `record` is one line without
// its line end (LF or CRLF).  For each cell, `onCell(std::string&&)` gets its
// unescaped bytes.  Gives the first malformed escape.
template <typename OnCell>
std::optional<TsvProblem> readTsvRecord(std::string_view record, OnCell&& onCell);

// The escape at `record[at]` (a backslash): its character, or nothing when
// it is none of the four.
std::optional<char> tsvEscaped(std::string_view record, std::size_t at);

template <typename OnCell>
std::optional<TsvProblem> readTsvRecord(std::string_view record, OnCell&& onCell) {
  std::string cell;
  std::size_t i = 0;
  for (;;) {
    const std::size_t stop = record.find_first_of("\t\\", i);
    cell.append(record.substr(i, stop == std::string_view::npos ? std::string_view::npos : stop - i));
    if (stop == std::string_view::npos) break;
    if (record[stop] == '\t') {
      onCell(std::move(cell));
      cell.clear();
      i = stop + 1;
      continue;
    }
    const auto c = tsvEscaped(record, stop);
    if (!c) {
      if (stop + 1 >= record.size())
        return TsvProblem{stop, "a backslash at the end of the line (a backslash in a cell is written \\\\)"};
      std::size_t end = stop + 2;
      while (end < record.size() && (static_cast<unsigned char>(record[end]) & 0xC0u) == 0x80u) ++end;
      return TsvProblem{stop, "unknown escape \"" + std::string(record.substr(stop, end - stop)) +
                                  "\" (a TSV cell knows \\t \\n \\r \\\\; a backslash is written \\\\)"};
    }
    cell.push_back(*c);
    i = stop + 2;
  }
  onCell(std::move(cell));
  return std::nullopt;
}

}  // namespace corvane::cli

#endif
