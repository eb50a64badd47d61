// CellEscaping.h - the cells of a list written into a document and read back
// from it: escaped before list-to-formatted renders them, unescaped after
// formatted-to-list has parsed them, so that any cell survives the round
// trip and the document stays well-formed.
//
//   html  & < > " ' as entities; line breaks and | as character references,
//         so that the cell also fits on one line of a Markdown table
//   xml   & < > " ' as entities; tab and line breaks as character
//         references, so that they survive in attributes; XML has no other
//         control characters, so a cell holding one is refused
//   json  the inside of a JSON string: \" \\ and control characters
//   csv   a cell holding a comma, quote or line break in quotes, its quotes
//         doubled
//   none  cells as they are
//
// With html, xml and json the first character of any separator of the
// format that turns up in an escaped cell is written as a character
// reference too, so that formatted-to-list does not split the cell there.
#ifndef CORVANE_TOOLS_CELL_ESCAPING_H
#define CORVANE_TOOLS_CELL_ESCAPING_H

#include "Encoding.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cli {

struct Format;

enum class CellEscape { None, Html, Xml, Json, Csv };

// "html" ... "none", or nothing for an unknown name.
std::optional<CellEscape> cellEscapeNamed(std::string_view name);
inline constexpr const char* kCellEscapeNames = "html, xml, json, csv, none";

struct CellProblem {
  std::size_t character = 0;  // in the cell, from 1
  std::string what;
};

class CellEscaper {
 public:
  // `separators`: texts an escaped cell must not hold (formatSeparators).
  explicit CellEscaper(CellEscape kind, std::vector<std::u32string> separators = {});

  CellEscape kind() const { return kind_; }

  // Appends the escaped cell; a problem when the kind cannot write one of
  // its characters.
  std::optional<CellProblem> escape(std::u32string_view cell, std::u32string& out) const;

  // Appends the cell a document holds, its escapes decoded; a problem when
  // an escape does not decode or gives a character the mode cannot hold.
  std::optional<CellProblem> unescape(std::u32string_view cell, TextMode mode, std::u32string& out) const;

 private:
  void appendReference(char32_t c, std::u32string& out) const;

  CellEscape kind_;
  std::vector<std::u32string> separators_;
};

// What formatted-to-list searches for between the cells of a list of
// `columns` columns rendered with this format: the text between two cells of
// each pair of columns, and the end of a row.
std::vector<std::u32string> formatSeparators(const Format& format, std::size_t columns);

// Every cell of the rows escaped (unescaped) in place.  Throws Failure
// (input) naming `source`, the place and the problem: escaping names the
// line of the input where the row starts (`rowLines`, when given), unescaping
// the row of the list.
void escapeCells(const CellEscaper& escaper, std::vector<std::vector<std::u32string>>& rows,
                 const std::vector<std::u32string>& columns, const std::vector<std::size_t>& rowLines,
                 TextMode mode, std::string_view source);
// The message of a cell that does not escape: `line` is the input line its
// row starts on.
std::string describeEscapeProblem(std::string_view source, std::size_t line,
                                  const std::vector<std::u32string>& columns, std::size_t column,
                                  const CellProblem& problem, TextMode mode);
// The message of a cell that does not unescape: `row` counts the list's
// rows from 0.
std::string describeUnescapeProblem(std::string_view source, std::size_t row,
                                    const std::vector<std::u32string>& columns, std::size_t column,
                                    const CellProblem& problem, TextMode mode);
void unescapeCells(const CellEscaper& escaper, std::vector<std::vector<std::u32string>>& rows,
                   const std::vector<std::u32string>& columns, TextMode mode, std::string_view source);

}  // namespace corvane::cli

#endif
