// Tsv.cpp - the four escapes of a TSV cell.
#include "Tsv.h"

namespace corvane::cli {

void appendTsvCell(std::string_view cell, std::string& out) {
  std::size_t i = 0;
  for (;;) {
    const std::size_t stop = cell.find_first_of("\t\n\r\\", i);
    out.append(cell.substr(i, stop == std::string_view::npos ? std::string_view::npos : stop - i));
    if (stop == std::string_view::npos) return;
    out.push_back('\\');
    switch (cell[stop]) {
      case '\t':
        out.push_back('t');
        break;
      case '\n':
        out.push_back('n');
        break;
      case '\r':
        out.push_back('r');
        break;
      default:
        out.push_back('\\');
        break;
    }
    i = stop + 1;
  }
}

std::optional<char> tsvEscaped(std::string_view record, std::size_t at) {
  if (at + 1 >= record.size()) return std::nullopt;
  switch (record[at + 1]) {
    case 't':
      return '\t';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case '\\':
      return '\\';
    default:
      return std::nullopt;
  }
}

}  // namespace corvane::cli
