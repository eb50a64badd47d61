// FormattedOracle.h - slow, literal references for the two formatted
// commands, written straight from their rules with a naive search that
// measures the remaining text on every call.  The tests and fuzzers compare
// the plug-in with them.
#ifndef CORVANE_TESTS_FORMATTED_ORACLE_H
#define CORVANE_TESTS_FORMATTED_ORACLE_H

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace cvtest {

using OracleRows = std::vector<std::vector<std::u32string>>;

struct FormatStrings {
  std::u32string rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim;

  // The strings as a command reads them: at most 255 characters, up to the
  // first zero.
  FormatStrings asRead() const {
    auto cut = [](const std::u32string& s) {
      return s.substr(0, std::min<size_t>(std::min<size_t>(s.find(U'\0'), s.size()), 255));
    };
    return {cut(rowPrefix), cut(rowSuffix), cut(rowDelim), cut(colPrefix), cut(colSuffix), cut(colDelim)};
  }
};

// A colPrefix or colSuffix as the commands read it: a "VARIANT:" list split
// into at most 128 entries (columns without an entry get the empty string),
// or one text for every column.
struct ColumnTexts {
  bool variant = false;
  std::u32string whole;  // a list's slot read as one string: keyword and first entry
  std::vector<std::u32string> entries;

  static ColumnTexts parse(const std::u32string& slot) {
    ColumnTexts t;
    t.whole = slot;
    static const std::u32string keyword = U"VARIANT:";
    if (slot.compare(0, keyword.size(), keyword) != 0) return t;
    t.variant = true;
    std::u32string entry;
    for (size_t i = keyword.size(); i <= slot.size(); ++i) {
      if (i == slot.size() || slot[i] == U',') {
        if (t.entries.size() < 128) t.entries.push_back(entry);
        entry.clear();
      } else {
        entry += slot[i];
      }
    }
    t.whole = keyword + t.entries[0];
    return t;
  }
  std::u32string of(size_t column) const {
    if (!variant) return whole;
    return column < entries.size() ? entries[column] : std::u32string();
  }
};

// What ListToFormattedString renders.
inline std::u32string literalRender(const OracleRows& rows, size_t columns, const FormatStrings& given) {
  const FormatStrings f = given.asRead();
  ColumnTexts prefix = ColumnTexts::parse(f.colPrefix), suffix = ColumnTexts::parse(f.colSuffix);
  std::u32string text;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) text += f.rowDelim;
    text += f.rowPrefix;
    for (size_t k = 0; k < columns; ++k) {
      if (k > 0) text += f.colDelim;
      text += prefix.of(k) + rows[r][k] + suffix.of(k);
    }
    text += f.rowSuffix;
  }
  return text;
}

struct ParseOutcome {
  int result = 0;
  bool touched = false;  // the list was cleared
  OracleRows rows;       // when touched
};

// The literal parse, on the text as the host delivers it.
inline ParseOutcome literalParse(const std::u32string& delivered, size_t columns,
                                 const FormatStrings& given) {
  const FormatStrings f = given.asRead();
  ParseOutcome out;
  ColumnTexts prefix = ColumnTexts::parse(f.colPrefix), suffix = ColumnTexts::parse(f.colSuffix);
  if (f.rowDelim.empty() || f.colDelim.empty()) {
    out.result = 3;
    return out;
  }
  const std::u32string colPrefixSlot = prefix.whole, colSuffixSlot = suffix.whole;
  const std::u32string firstPrefix = prefix.of(0), lastSuffix = suffix.of(columns - 1);
  const std::u32string cellSep = colSuffixSlot + f.colDelim + colPrefixSlot;
  const std::u32string rowEnd = lastSuffix + f.rowSuffix + f.rowDelim;
  const std::u32string rowStart = f.rowPrefix + firstPrefix;
  const std::u32string rowSep = rowEnd + rowStart;
  out.touched = true;
  if (delivered.empty()) {
    out.result = 3;
    return out;
  }
  std::u32string t = delivered;
  size_t end = t.size();
  t.push_back(0);
  if (!(delivered.size() >= f.rowDelim.size() &&
        delivered.compare(delivered.size() - f.rowDelim.size(), f.rowDelim.size(), f.rowDelim) == 0)) {
    t.insert(end, f.rowDelim);
    end += f.rowDelim.size();
  }
  t.push_back(0);
  // The first occurrence at or after `from`, looking no further than the
  // first zero at or after it; an empty pattern is found at `from`.
  auto find = [&t](size_t from, const std::u32string& pattern) -> std::optional<size_t> {
    if (pattern.empty()) return from;
    size_t m = 0;
    while (t[from + m] != 0) ++m;
    for (size_t i = 0; i + pattern.size() <= m; ++i)
      if (t.compare(from + i, pattern.size(), pattern) == 0) return from + i;
    return std::nullopt;
  };
  if (!rowStart.empty() && find(0, rowStart) != size_t{0}) {
    out.result = 3;
    return out;
  }
  size_t rows = 1;
  if (auto at = find(rowStart.size(), rowSep)) {
    rows = 0;
    while (at) {
      ++rows;
      at = find(*at + rowSep.size(), rowSep);
    }
    if (rowSep.size() != rowEnd.size()) ++rows;
  }
  const bool flagged = prefix.variant || suffix.variant;
  out.rows.assign(rows, std::vector<std::u32string>(columns));
  size_t p = rowStart.size();
  for (size_t r = 0; r < rows; ++r) {
    for (size_t i = 0; i < columns; ++i) {
      if (p > end) continue;  // the text has run out: the cell stays empty
      if (!f.colPrefix.empty()) {
        std::u32string pre = prefix.of(i);
        if (!pre.empty() && find(p, pre) == p) p += pre.size();
      }
      std::optional<size_t> e;
      size_t step;
      if (i + 1 == columns) {
        step = rowSep.size();
        e = find(p, rowSep);
        if (!e && r + 1 == rows) {
          e = find(p, rowEnd);
          if (!e) e = find(p, lastSuffix);
        }
      } else {
        std::u32string sep = cellSep;
        if (flagged) sep = suffix.of(i) + f.colDelim + (prefix.variant ? prefix.of(i + 1) : U"");
        step = sep.size();
        e = find(p, sep);
      }
      if (!e) e = find(p, rowSep);
      size_t cellEnd = e ? *e : end;
      t[cellEnd] = 0;
      size_t length = 0;
      while (t[p + length] != 0) ++length;
      out.rows[r][i] = t.substr(p, length);
      p = cellEnd + step;
    }
  }
  return out;
}

}  // namespace cvtest

#endif
