// CellEscaping.cpp - entities, JSON escapes and CSV quotes, both ways.
#include "CellEscaping.h"

#include "Commands.h"
#include "Escapes.h"
#include "Failure.h"

#include <algorithm>
#include <cstdio>

namespace corvane::cli {

namespace {

constexpr std::u32string_view kVariant = U"" CORVANE_VARIANT_KEYWORD;

void append(std::u32string& out, std::string_view ascii) { out.append(ascii.begin(), ascii.end()); }

// A piece of a cell in a message.
std::string shown(std::u32string_view text) { return showEscaped(text, TextMode::Unicode); }

int hexValue(char32_t c) {
  if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
  if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
  return -1;
}

// Characters the html and xml escaping may change (below U+007F).
bool isMarkup(char32_t c) { return c == U'&' || c == U'<' || c == U'>' || c == U'\'' || c == U'|'; }

bool isCodePoint(std::uint32_t n) { return n <= 0x10FFFF && !(n >= 0xD800 && n <= 0xDFFF); }

// XML 1.0 has no other characters below U+0020, and neither U+FFFE nor U+FFFF.
bool xmlHolds(char32_t c) {
  return (c >= 0x20 || c == U'\t' || c == U'\n' || c == U'\r') && c != 0xFFFE && c != 0xFFFF;
}

// One prefix or suffix per column: entry `i` of a VARIANT list (none past
// its end), or the text itself.
std::u32string columnEntry(const std::u32string& text, std::size_t i) {
  if (text.compare(0, kVariant.size(), kVariant) != 0) return text;
  std::size_t start = kVariant.size();
  for (std::size_t k = 0; k < i; ++k) {
    start = text.find(U',', start);
    if (start == std::u32string::npos) return {};
    ++start;
  }
  const std::size_t end = text.find(U',', start);
  return text.substr(start, end == std::u32string::npos ? std::u32string::npos : end - start);
}

std::optional<CellProblem> unescapeEntities(std::u32string_view cell, bool xmlOnly, TextMode mode,
                                            std::u32string& out) {
  std::size_t i = 0;
  while (i < cell.size()) {
    const char32_t c = cell[i];
    if (c != U'&') {
      out.push_back(c);
      ++i;
      continue;
    }
    const std::size_t semicolon = cell.find(U';', i + 1);
    const std::u32string_view name =
        cell.substr(i + 1, semicolon == std::u32string_view::npos ? 0 : semicolon - i - 1);
    if (semicolon == std::u32string_view::npos || semicolon - i > 12)
      return CellProblem{i + 1, "an \"&\" that begins no character reference (a cell writes & as &amp;)"};
    char32_t decoded = 0;
    if (name == U"amp")
      decoded = U'&';
    else if (name == U"lt")
      decoded = U'<';
    else if (name == U"gt")
      decoded = U'>';
    else if (name == U"quot")
      decoded = U'"';
    else if (name == U"apos")
      decoded = U'\'';
    else if (!name.empty() && name.front() == U'#') {
      const bool hex = name.size() > 1 && (name[1] == U'x' || name[1] == U'X');
      std::uint32_t n = 0;
      bool ok = name.size() > (hex ? 2u : 1u);
      for (std::size_t k = hex ? 2 : 1; ok && k < name.size(); ++k) {
        const bool decimal = name[k] >= U'0' && name[k] <= U'9';
        const int digit = hex ? hexValue(name[k]) : decimal ? static_cast<int>(name[k] - U'0') : -1;
        ok = digit >= 0 && n <= 0x10FFFF;
        n = n * (hex ? 16u : 10u) + static_cast<std::uint32_t>(digit < 0 ? 0 : digit);
      }
      if (!ok || !isCodePoint(n) || n == 0 || (xmlOnly && !xmlHolds(static_cast<char32_t>(n))))
        return CellProblem{i + 1, "\"&" + shown(name) + ";\" is no character's number"};
      decoded = static_cast<char32_t>(n);
    } else {
      return CellProblem{i + 1, "unknown entity \"&" + shown(name) +
                                    ";\" (a cell's entities are &amp; &lt; &gt; &quot; &apos; and &#...;)"};
    }
    if (auto what = characterProblem(decoded, mode)) return CellProblem{i + 1, *what};
    out.push_back(decoded);
    i = semicolon + 1;
  }
  return std::nullopt;
}

std::optional<CellProblem> unescapeJson(std::u32string_view cell, TextMode mode, std::u32string& out) {
  auto hex4 = [&cell](std::size_t at) -> int {
    if (at + 4 > cell.size()) return -1;
    int n = 0;
    for (std::size_t k = at; k < at + 4; ++k) {
      const int digit = hexValue(cell[k]);
      if (digit < 0) return -1;
      n = n * 16 + digit;
    }
    return n;
  };
  std::size_t i = 0;
  while (i < cell.size()) {
    const char32_t c = cell[i];
    if (c != U'\\') {
      out.push_back(c);
      ++i;
      continue;
    }
    if (i + 1 >= cell.size()) return CellProblem{i + 1, "a backslash at the end (JSON writes one as \\\\)"};
    const char32_t kind = cell[i + 1];
    char32_t decoded = 0;
    std::size_t next = i + 2;
    switch (kind) {
      case U'"':
        decoded = U'"';
        break;
      case U'\\':
        decoded = U'\\';
        break;
      case U'/':
        decoded = U'/';
        break;
      case U'b':
        decoded = U'\b';
        break;
      case U'f':
        decoded = U'\f';
        break;
      case U'n':
        decoded = U'\n';
        break;
      case U'r':
        decoded = U'\r';
        break;
      case U't':
        decoded = U'\t';
        break;
      case U'u': {
        const int unit = hex4(i + 2);
        if (unit < 0) return CellProblem{i + 1, "\\u needs four hex digits"};
        next = i + 6;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          const bool paired = next + 1 < cell.size() && cell[next] == U'\\' && cell[next + 1] == U'u';
          const int low = paired ? hex4(next + 2) : -1;
          if (low < 0xDC00 || low > 0xDFFF)
            return CellProblem{
                i + 1, "a high surrogate \\u" + shown(cell.substr(i + 2, 4)) + " without its low surrogate"};
          decoded = static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          next += 6;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          return CellProblem{i + 1,
                             "a low surrogate \\u" + shown(cell.substr(i + 2, 4)) + " without a high one"};
        } else {
          decoded = static_cast<char32_t>(unit);
        }
        break;
      }
      default:
        return CellProblem{i + 1, "unknown escape \"\\" + shown(cell.substr(i + 1, 1)) +
                                      "\" (JSON knows \\\" \\\\ \\/ \\b \\f \\n \\r \\t \\uXXXX)"};
    }
    if (auto what = characterProblem(decoded, mode)) return CellProblem{i + 1, *what};
    out.push_back(decoded);
    i = next;
  }
  return std::nullopt;
}

std::optional<CellProblem> unescapeCsv(std::u32string_view cell, std::u32string& out) {
  if (cell.empty() || cell.front() != U'"') {
    out.append(cell);
    return std::nullopt;
  }
  std::size_t i = 1;
  for (;;) {
    const std::size_t quote = cell.find(U'"', i);
    if (quote == std::u32string_view::npos) return CellProblem{1, "a quoted cell that is never closed"};
    out.append(cell.substr(i, quote - i));
    if (quote + 1 == cell.size()) return std::nullopt;
    if (cell[quote + 1] != U'"')
      return CellProblem{quote + 2, "text after the closing quote (a quote inside a quoted cell is doubled)"};
    out.push_back(U'"');
    i = quote + 2;
  }
}

}  // namespace

std::optional<CellEscape> cellEscapeNamed(std::string_view name) {
  if (name == "none") return CellEscape::None;
  if (name == "html") return CellEscape::Html;
  if (name == "xml") return CellEscape::Xml;
  if (name == "json") return CellEscape::Json;
  if (name == "csv") return CellEscape::Csv;
  return std::nullopt;
}

CellEscaper::CellEscaper(CellEscape kind, std::vector<std::u32string> separators)
    : kind_(kind), separators_(std::move(separators)) {
  separators_.erase(std::remove_if(separators_.begin(), separators_.end(),
                                   [](const std::u32string& s) { return s.empty(); }),
                    separators_.end());
}

void CellEscaper::appendReference(char32_t c, std::u32string& out) const {
  char buffer[24];
  if (kind_ == CellEscape::Json) {
    if (c >= 0x10000) {
      const auto v = static_cast<unsigned>(c - 0x10000);
      std::snprintf(buffer, sizeof buffer, "\\u%04x\\u%04x", 0xD800 + (v >> 10), 0xDC00 + (v & 0x3FF));
    } else {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
    }
  } else {
    std::snprintf(buffer, sizeof buffer, "&#%u;", static_cast<unsigned>(c));
  }
  append(out, buffer);
}

std::optional<CellProblem> CellEscaper::escape(std::u32string_view cell, std::u32string& out) const {
  if (kind_ == CellEscape::None) {
    out.append(cell);
    return std::nullopt;
  }
  if (kind_ == CellEscape::Csv) {
    if (cell.find_first_of(U",\"\r\n") == std::u32string_view::npos) {
      out.append(cell);
      return std::nullopt;
    }
    out.push_back(U'"');
    for (char32_t c : cell) {
      if (c == U'"') out.push_back(U'"');
      out.push_back(c);
    }
    out.push_back(U'"');
    return std::nullopt;
  }
  // The cell is escaped straight into `out`; most cells hold no separator.
  const std::size_t start = out.size();
  std::u32string& escaped = out;
  out.reserve(start + cell.size() + cell.size() / 8);
  const bool json = kind_ == CellEscape::Json;
  for (std::size_t i = 0; i < cell.size(); ++i) {
    // Plain characters go over in runs.
    const std::size_t run = i;
    while (i < cell.size() && cell[i] >= 0x20 && cell[i] != U'"' && cell[i] != U'\\' &&
           (json || (!isMarkup(cell[i]) && (kind_ == CellEscape::Html || xmlHolds(cell[i])))))
      ++i;
    escaped.append(cell.substr(run, i - run));
    if (i == cell.size()) break;
    const char32_t c = cell[i];
    if (json) {
      switch (c) {
        case U'"':
          append(escaped, "\\\"");
          continue;
        case U'\\':
          append(escaped, "\\\\");
          continue;
        case U'\b':
          append(escaped, "\\b");
          continue;
        case U'\f':
          append(escaped, "\\f");
          continue;
        case U'\n':
          append(escaped, "\\n");
          continue;
        case U'\r':
          append(escaped, "\\r");
          continue;
        case U'\t':
          append(escaped, "\\t");
          continue;
        default:
          if (c < 0x20)
            appendReference(c, escaped);
          else
            escaped.push_back(c);
          continue;
      }
    }
    const bool xml = kind_ == CellEscape::Xml;
    switch (c) {
      case U'&':
        append(escaped, "&amp;");
        continue;
      case U'<':
        append(escaped, "&lt;");
        continue;
      case U'>':
        append(escaped, "&gt;");
        continue;
      case U'"':
        append(escaped, "&quot;");
        continue;
      case U'\'':
        append(escaped, xml ? "&apos;" : "&#39;");
        continue;
      case U'\r':
        append(escaped, "&#13;");
        continue;
      case U'\n':
        append(escaped, "&#10;");
        continue;
      case U'\t':
        if (xml)
          appendReference(c, escaped);
        else
          escaped.push_back(c);
        continue;
      case U'|':
        if (xml)
          escaped.push_back(c);
        else
          append(escaped, "&#124;");
        continue;
      default:
        if (xml && !xmlHolds(c))
          return CellProblem{i + 1, describeCharacter(c) + " is a character XML 1.0 does not have " +
                                        "(--escape html or json can write it)"};
        escaped.push_back(c);
    }
  }
  // A separator inside the escaped cell loses its first character to a reference.
  const std::u32string_view written(out.data() + start, out.size() - start);
  bool clean = true;
  for (const auto& separator : separators_)
    clean = clean && written.find(separator) == std::u32string_view::npos;
  if (clean) return std::nullopt;
  const std::u32string plain(written);
  out.resize(start);
  // The escaped text goes over unit by unit (a character, or an escape
  // such as \" or &lt;); a unit in which a separator begins is written as
  // the reference of its character, so that no escape is cut in two.
  for (std::size_t unit = 0; unit < plain.size();) {
    std::size_t length = 1;
    if (json && plain[unit] == U'\\' && unit + 1 < plain.size()) {
      length = plain[unit + 1] == U'u' ? 6 : 2;
      // Two references of a character beyond U+FFFF are one unit.
      if (length == 6 && unit + 12 <= plain.size() && plain[unit + 2] == U'd' &&
          (plain[unit + 3] == U'8' || plain[unit + 3] == U'9' || plain[unit + 3] == U'a' ||
           plain[unit + 3] == U'b'))
        length = 12;
    } else if (!json && plain[unit] == U'&') {
      const std::size_t end = plain.find(U';', unit);
      if (end != std::u32string::npos) length = end + 1 - unit;
    }
    length = std::min(length, plain.size() - unit);
    bool hit = false;
    for (std::size_t i = unit; i < unit + length && !hit; ++i)
      for (const auto& separator : separators_)
        if (plain.compare(i, separator.size(), separator) == 0) hit = true;
    const std::u32string_view piece(plain.data() + unit, length);
    if (!hit) {
      out.append(piece);
    } else if (length == 1) {
      appendReference(piece[0], out);
    } else {
      std::u32string character;
      if (unescape(piece, TextMode::Unicode, character) || character.size() != 1)
        out.append(piece);
      else
        appendReference(character[0], out);
    }
    unit += length;
  }
  // A separator made of what references are written with (";" in html or
  // xml, "\\" in json) stays in the text whatever is written for it: the cell
  // would not read back, so it is refused.
  const std::u32string_view rewritten(out.data() + start, out.size() - start);
  for (const auto& separator : separators_) {
    if (rewritten.find(separator) == std::u32string_view::npos) continue;
    const std::size_t at = cell.find(separator.front());
    out.resize(start);
    return CellProblem{at == std::u32string_view::npos ? 1 : at + 1,
                       "the separator \"" + shown(separator) +
                           "\" of the format cannot be kept out of the cell " + "escaped as " +
                           (json                       ? "json"
                            : kind_ == CellEscape::Xml ? "xml"
                                                       : "html") +
                           " (its character references hold it); choose other separators"};
  }
  return std::nullopt;
}

std::optional<CellProblem> CellEscaper::unescape(std::u32string_view cell, TextMode mode,
                                                 std::u32string& out) const {
  switch (kind_) {
    case CellEscape::Html:
      return unescapeEntities(cell, false, mode, out);
    case CellEscape::Xml:
      return unescapeEntities(cell, true, mode, out);
    case CellEscape::Json:
      return unescapeJson(cell, mode, out);
    case CellEscape::Csv:
      return unescapeCsv(cell, out);
    case CellEscape::None:
      break;
  }
  out.append(cell);
  return std::nullopt;
}

std::vector<std::u32string> formatSeparators(const Format& format, std::size_t columns) {
  const bool prefixList = format.colPrefix.compare(0, kVariant.size(), kVariant) == 0;
  const bool suffixList = format.colSuffix.compare(0, kVariant.size(), kVariant) == 0;
  std::vector<std::u32string> out;
  for (std::size_t i = 0; i + 1 < columns; ++i) {
    std::u32string between = columnEntry(format.colSuffix, i) + format.colDelim;
    // Without any VARIANT list the next cell's prefix belongs to the separator.
    if (prefixList || !suffixList) between += columnEntry(format.colPrefix, i + 1);
    out.push_back(std::move(between));
  }
  out.push_back(columnEntry(format.colSuffix, columns == 0 ? 0 : columns - 1) + format.rowSuffix +
                format.rowDelim);
  return out;
}

namespace {

std::string columnName(const std::vector<std::u32string>& columns, std::size_t c, TextMode mode) {
  return c < columns.size() ? "column \"" + showEscaped(columns[c], mode) + "\""
                            : "cell " + std::to_string(c + 1);
}

}  // namespace

void escapeCells(const CellEscaper& escaper, std::vector<std::vector<std::u32string>>& rows,
                 const std::vector<std::u32string>& columns, const std::vector<std::size_t>& rowLines,
                 TextMode mode, std::string_view source) {
  if (escaper.kind() == CellEscape::None) return;
  std::u32string escaped;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      escaped.clear();
      if (auto problem = escaper.escape(rows[r][c], escaped))
        throw Failure(kExitInput, describeEscapeProblem(source, r < rowLines.size() ? rowLines[r] : r + 2,
                                                        columns, c, *problem, mode));
      rows[r][c].swap(escaped);
    }
  }
}

std::string describeEscapeProblem(std::string_view source, std::size_t line,
                                  const std::vector<std::u32string>& columns, std::size_t column,
                                  const CellProblem& problem, TextMode mode) {
  return std::string(source) + ": line " + std::to_string(line) + ": " + columnName(columns, column, mode) +
         ", character " + std::to_string(problem.character) + ": " + problem.what;
}

std::string describeUnescapeProblem(std::string_view source, std::size_t row,
                                    const std::vector<std::u32string>& columns, std::size_t column,
                                    const CellProblem& problem, TextMode mode) {
  return std::string(source) + ": row " + std::to_string(row + 1) + ", " + columnName(columns, column, mode) +
         ", character " + std::to_string(problem.character) + ": " + problem.what;
}

void unescapeCells(const CellEscaper& escaper, std::vector<std::vector<std::u32string>>& rows,
                   const std::vector<std::u32string>& columns, TextMode mode, std::string_view source) {
  if (escaper.kind() == CellEscape::None) return;
  std::u32string plain;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      plain.clear();
      if (auto problem = escaper.unescape(rows[r][c], mode, plain))
        throw Failure(kExitInput, describeUnescapeProblem(source, r, columns, c, *problem, mode));
      rows[r][c].swap(plain);
    }
  }
}

}  // namespace corvane::cli
