// FuzzFormats.h - the six format strings of the formatted commands drawn
// from a fuzz input: short ones over a small alphabet so that separators
// meet and nearly meet, strings of 254 to 256 characters, embedded zero
// characters, and "VARIANT:" lists of 0 to 300 entries (the host cuts every
// parameter at 255 characters).
#ifndef CORVANE_FUZZ_FORMATS_H
#define CORVANE_FUZZ_FORMATS_H

#include "FormattedOracle.h"
#include "FuzzCommon.h"

namespace cvfuzz {

using cvtest::FormatStrings;

inline std::u32string formatString(FuzzedDataProvider& data, Chars& chars, const std::u32string& alphabet,
                                   bool mayBeVariant) {
  const int kind = data.ConsumeIntegralInRange<int>(0, 9);
  if (mayBeVariant && kind >= 7) {
    // A keyword that counts, or one that nearly does.
    static const char32_t* const kKeywords[] = {U"VARIANT:", U"VARIANT:",  U"VARIANT:", U"VARIANT",
                                                U"variant:", U" VARIANT:", U"VARIANT;"};
    std::u32string s = kKeywords[data.ConsumeIntegralInRange<size_t>(0, 6)];
    const size_t entries = data.ConsumeBool() ? data.ConsumeIntegralInRange<size_t>(0, 8)
                                              : data.ConsumeIntegralInRange<size_t>(0, 300);
    const size_t longest = data.ConsumeIntegralInRange<size_t>(0, 4);
    for (size_t e = 0; e < entries && data.remaining_bytes() > 0; ++e) {
      if (e > 0) s += U',';
      s += chars.text(data.ConsumeIntegralInRange<size_t>(0, longest), alphabet, true);
    }
    return s;
  }
  return chars.text(chars.length(4, 300), alphabet, kind == 0);
}

inline FormatStrings formatStrings(FuzzedDataProvider& data, Chars& chars, const std::u32string& alphabet) {
  FormatStrings f;
  f.rowPrefix = formatString(data, chars, alphabet, false);
  f.rowSuffix = formatString(data, chars, alphabet, false);
  f.rowDelim = formatString(data, chars, alphabet, false);
  f.colPrefix = formatString(data, chars, alphabet, true);
  f.colSuffix = formatString(data, chars, alphabet, true);
  f.colDelim = formatString(data, chars, alphabet, false);
  return f;
}

using cvtest::setFormats;

// A text as the host hands a cell or field back: up to its first zero.
inline std::u32string uptoZero(const std::u32string& s) { return s.substr(0, s.find(U'\0')); }

// The plug-in's FormattedStringToList on `text` against the literal parse.
// `untouched` is the list as it was before the command.
inline void expectLiteralParse(const std::u32string& text, size_t columns, const FormatStrings& f, int result,
                               const Rows& rows, const Rows& untouched) {
  const cvtest::ParseOutcome want = cvtest::literalParse(text, columns, f);
  CVFUZZ_CHECK_EQ(result, want.result, "FormattedStringToList result as the literal parse");
  if (!want.touched) {
    CVFUZZ_CHECK(rows == untouched, "the list is untouched");
  } else if (want.result == 0) {
    CVFUZZ_CHECK_EQ(rows.size(), want.rows.size(), "rows as the literal parse");
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < columns; ++c)
        if (rows[r][c] != want.rows[r][c])
          fail("a cell differs from the literal parse", static_cast<long long>(r), static_cast<long long>(c));
  } else {
    CVFUZZ_CHECK(rows.empty(), "a failed parse leaves the list cleared");
  }
}

}  // namespace cvfuzz

#endif
