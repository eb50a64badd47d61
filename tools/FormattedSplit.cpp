// FormattedSplit.cpp - cuts of a formatted text that the command reads as it
// reads the whole.
#include "FormattedSplit.h"

#include "corvane/CorvaneAbi.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace corvane::cli {

namespace {

constexpr std::u32string_view kVariantKeyword = U"" CORVANE_VARIANT_KEYWORD;
constexpr std::size_t kVariantEntries = kCvVariantEntries;  // the plug-in keeps the first entries of a list

// The entries of a "VARIANT:" list, or nothing for a plain string.
std::optional<std::vector<std::u32string>> variantEntries(const std::u32string& text) {
  if (text.compare(0, kVariantKeyword.size(), kVariantKeyword) != 0) return std::nullopt;
  std::vector<std::u32string> entries;
  std::size_t start = kVariantKeyword.size();
  for (;;) {
    const std::size_t comma = text.find(U',', start);
    entries.push_back(
        text.substr(start, comma == std::u32string::npos ? std::u32string::npos : comma - start));
    if (comma == std::u32string::npos) break;
    start = comma + 1;
  }
  if (entries.size() > kVariantEntries) entries.resize(kVariantEntries);
  return entries;
}

// Column k's prefix or suffix: its entry of a list (none past the list's
// end) or the whole string.
std::u32string columnString(const std::u32string& text,
                            const std::optional<std::vector<std::u32string>>& list, std::size_t k) {
  if (!list) return text;
  return k < list->size() ? (*list)[k] : std::u32string();
}

// Whether `part` stands in `text` at `at`, which leaves room for it: equal
// characters are equal bytes.
bool sameAt(std::u32string_view text, std::size_t at, std::u32string_view part) {
  return part.empty() || std::memcmp(text.data() + at, part.data(), part.size() * sizeof(char32_t)) == 0;
}

// The text of a batch followed by what comes after it in the input.
class Joined {
 public:
  Joined(std::u32string_view text, std::u32string_view after) : text_(text), after_(after) {}
  std::size_t size() const { return text_.size() + after_.size(); }
  // `pattern` stands at `at`, within the batch alone or within the batch
  // and what follows.
  bool holds(std::size_t at, std::u32string_view pattern, bool beyond) const {
    const std::size_t end = beyond ? size() : text_.size();
    if (at > end || end - at < pattern.size()) return false;
    if (at + pattern.size() <= text_.size()) return sameAt(text_, at, pattern);
    for (std::size_t i = 0; i < pattern.size(); ++i)
      if (charAt(at + i) != pattern[i]) return false;
    return true;
  }
  // An occurrence of `pattern` starting in [from, to) that runs past the
  // batch's end.
  bool runsAcross(std::u32string_view pattern, std::size_t from, std::size_t to) const {
    if (pattern.empty()) return false;
    const std::size_t first = text_.size() + 1 >= pattern.size() ? text_.size() + 1 - pattern.size() : 0;
    for (std::size_t at = std::max(from, first); at < to; ++at)
      if (holds(at, pattern, true)) return true;
    return false;
  }

 private:
  char32_t charAt(std::size_t i) const { return i < text_.size() ? text_[i] : after_[i - text_.size()]; }
  std::u32string_view text_;
  std::u32string_view after_;
};

std::size_t lineAt(std::u32string_view text, std::size_t at) {
  at = std::min(at, text.size());
  return 1 + static_cast<std::size_t>(
                 std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), U'\n'));
}

}  // namespace

FormatShape::FormatShape(const Format& format, std::size_t columnCount) : columns(columnCount) {
  const auto prefixList = variantEntries(format.colPrefix);
  const auto suffixList = variantEntries(format.colSuffix);
  const bool flagged = prefixList || suffixList;
  for (std::size_t k = 0; k < columns; ++k) prefixes.push_back(columnString(format.colPrefix, prefixList, k));
  for (std::size_t k = 0; k + 1 < columns; ++k) {
    if (flagged) {
      // With a list the separator of column k is built afresh: its suffix,
      // colDelim, and with a prefix list the next column's prefix.
      std::u32string end = columnString(format.colSuffix, suffixList, k) + format.colDelim;
      if (prefixList) end += columnString(format.colPrefix, prefixList, k + 1);
      cellEnds.push_back(std::move(end));
    } else {
      cellEnds.push_back(format.colSuffix + format.colDelim + format.colPrefix);
    }
  }
  const std::u32string lastSuffix =
      columns == 0 ? std::u32string() : columnString(format.colSuffix, suffixList, columns - 1);
  rowEnd = lastSuffix + format.rowSuffix + format.rowDelim;
  rowStart = format.rowPrefix + (columns == 0 ? std::u32string() : prefixes[0]);
  rowSep = rowEnd + rowStart;
  hasPrefix = !format.colPrefix.empty();
  cuttable = !format.rowDelim.empty() && !format.colDelim.empty() && columns != 0;
  std::size_t longest = std::max(rowSep.size(), format.rowDelim.size());
  for (const auto& s : cellEnds) longest = std::max(longest, s.size());
  for (const auto& s : prefixes) longest = std::max(longest, s.size());
  lookahead = longest + 1;
}

namespace {

// How often a character is likely to stand in a text, roughly: line breaks
// least, then other control characters, punctuation, other characters,
// digits, letters, and the space most.
int commonness(char32_t c) {
  if (c == U'\n' || c == U'\r') return 0;
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == U' ') return 6;
  if (c >= U'0' && c <= U'9') return 4;
  if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) return 5;
  if (c < 0x80) return 2;
  return 3;
}

// The first occurrence of `pattern` in `text` at or after `from`, as
// text.find(pattern, from) gives it, found by looking for the pattern's
// character at `anchor` first: with the rarest one, most of the text is
// passed over many characters at a time.
template <class Char>
const Char* findCharacter(const Char* p, const Char* stop, Char wanted) {
  if constexpr (sizeof(Char) == 1) {
    const void* found = std::memchr(p, wanted, static_cast<std::size_t>(stop - p));
    return found == nullptr ? stop : static_cast<const Char*>(found);
  } else {
    while (stop - p >= 8) {
      bool hit = false;
      for (int k = 0; k < 8; ++k) hit |= p[k] == wanted;
      if (hit) break;
      p += 8;
    }
    while (p != stop && *p != wanted) ++p;
    return p;
  }
}

template <class Char>
std::size_t findFrom(std::basic_string_view<Char> text, std::basic_string_view<Char> pattern,
                     std::size_t anchor, std::size_t from) {
  const std::size_t m = pattern.size();
  if (m == 0 || text.size() < m || from > text.size() - m) return text.find(pattern, from);
  const Char wanted = pattern[anchor];
  const Char* const begin = text.data();
  const Char* const stop = begin + (text.size() - m) + anchor + 1;  // past the last place it can stand
  const Char* p = begin + from + anchor;
  for (;;) {
    p = findCharacter(p, stop, wanted);
    if (p == stop) return std::basic_string_view<Char>::npos;
    const std::size_t at = static_cast<std::size_t>(p - begin) - anchor;
    if (text.compare(at, m, pattern) == 0) return at;
    ++p;
  }
}

}  // namespace

template <class Char>
BasicRowSeparatorScan<Char>::BasicRowSeparatorScan(std::basic_string<Char> separator, std::size_t start)
    : separator_(std::move(separator)), start_(start) {
  const auto rank = [](Char c) {
    return commonness(static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(c)));
  };
  for (std::size_t i = 1; i < separator_.size(); ++i)
    if (rank(separator_[i]) < rank(separator_[anchor_])) anchor_ = i;
}

template <class Char>
std::size_t BasicRowSeparatorScan<Char>::next(std::basic_string_view<Char> text) {
  const std::basic_string_view<Char> pattern = separator_;
  if (from_ > text.size()) return std::basic_string_view<Char>::npos;
  const std::size_t at = findFrom(text, pattern, anchor_, from_);
  if (at == std::basic_string_view<Char>::npos) {
    // Go on later from where an occurrence could still begin.
    const std::size_t keep = pattern.size() - 1;
    from_ = std::max(from_, text.size() >= keep ? text.size() - keep : 0);
    return std::basic_string_view<Char>::npos;
  }
  from_ = at + pattern.size();
  return at;
}

template <class Char>
std::size_t countRowSeparators(BasicRowSeparatorScan<Char> scan, std::basic_string_view<Char> text) {
  scan.restart();
  std::size_t count = 0;
  while (scan.next(text) != std::basic_string_view<Char>::npos) ++count;
  return count;
}

std::size_t countRowSeparators(const FormatShape& shape, std::u32string_view text) {
  return countRowSeparators(RowSeparatorScan(shape.rowSep, shape.rowStart.size()), text);
}

template class BasicRowSeparatorScan<char>;
template class BasicRowSeparatorScan<char32_t>;
template std::size_t countRowSeparators(BasicRowSeparatorScan<char>, std::string_view);

std::optional<std::string> checkCut(const FormatShape& shape, std::u32string_view text,
                                    std::u32string_view lookahead, const corvane::host::CellList& cells,
                                    std::size_t expectedRows) {
  const std::size_t rows = cells.rowCount();
  const Joined joined(text, lookahead);
  if (rows != expectedRows)
    return "the command counted " + std::to_string(rows) + " rows where " + std::to_string(expectedRows) +
           " row separators stand";
  const std::size_t cut = text.size() - shape.rowEnd.size();  // where the last row's separator begins
  std::size_t pos = shape.rowStart.size();
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t i = 0; i < shape.columns; ++i) {
      auto problem = [&](const std::string& what) {
        return "line " + std::to_string(lineAt(text, pos)) + ": " + what;
      };
      if (pos > text.size()) return problem("the text ran out before the last cell");
      if (shape.hasPrefix) {
        const std::u32string& prefix = shape.prefixes[i];
        const bool here = joined.holds(pos, prefix, false);
        if (here != joined.holds(pos, prefix, true))
          return problem("a column prefix runs on past the row separator");
        if (here) pos += prefix.size();
      }
      const std::u32string_view value = cells.cell(r, i);
      const std::size_t end = pos + value.size();
      if (end > text.size() || !sameAt(text, pos, value))
        return problem("the cells read do not stand in the text");
      const bool last = i + 1 == shape.columns;
      const std::u32string& separator = last ? shape.rowSep : shape.cellEnds[i];
      if (last && r + 1 == rows) {
        // Here the batch alone searched rowEnd where the whole text finds
        // the row separator that runs across the cut.
        if (end != cut)
          return problem(
              "the last row does not end at the row separator (a cell holds a separator, or a row has "
              "more or fewer cells than the list has columns)");
      } else if (!joined.holds(end, separator, false)) {
        return problem(
            "a cell does not end at its separator (a cell holds a separator, or a row has more or "
            "fewer cells than the list has columns)");
      }
      if (joined.runsAcross(separator, pos, end))
        return problem("a separator runs across the row separator the text would be cut at");
      pos = end + separator.size();
    }
  }
  return std::nullopt;
}

}  // namespace corvane::cli
