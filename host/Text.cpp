// Text.cpp - host text conversions.
#include "Text.h"

#include <cstring>
#include <cwchar>

namespace corvane::host {

std::u32string fromBytes(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(static_cast<char32_t>(static_cast<unsigned char>(c)));
  return out;
}

std::string toBytes(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) out.push_back(static_cast<char>(narrowUnit(c, CharWidth::Byte)));
  return out;
}

std::u32string fromUtf8(std::string_view utf8) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::u32string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  const std::size_t n = utf8.size();
  while (i < n) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    std::size_t extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1Fu;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0Fu;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07u;
      minimum = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= extra && i + j < n; ++j) {
      const auto next = static_cast<unsigned char>(utf8[i + j]);
      if ((next & 0xC0u) != 0x80u) break;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    if (j <= extra || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      i += j;  // skip the lead and the continuation bytes that belonged to it
      continue;
    }
    out.push_back(cp);
    i += j;
  }
  return out;
}

std::string toUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::size_t terminatedLength(const void* source, CharWidth width, std::size_t limit) noexcept {
  if (width == CharWidth::Byte) {
    if (limit == SIZE_MAX) return std::strlen(static_cast<const char*>(source));
    const void* zero = std::memchr(source, 0, limit);
    return zero == nullptr ? limit
                           : static_cast<std::size_t>(static_cast<const unsigned char*>(zero) -
                                                      static_cast<const unsigned char*>(source));
  }
#if WCHAR_MAX > 0xFFFF
  // 32-bit wchar_t: the C library's search, which is much faster than a
  // loop, on units at their natural alignment.
  if (reinterpret_cast<std::uintptr_t>(source) % alignof(wchar_t) == 0) {
    const auto* units = static_cast<const wchar_t*>(source);
    if (limit == SIZE_MAX) return std::wcslen(units);
    const wchar_t* zero = std::wmemchr(units, L'\0', limit);
    return zero == nullptr ? limit : static_cast<std::size_t>(zero - units);
  }
#endif
  const auto* bytes = static_cast<const unsigned char*>(source);
  std::size_t n = 0;
  for (; n < limit; ++n) {
    std::uint32_t unit = 0;
    std::memcpy(&unit, bytes + n * 4, 4);
    if (unit == 0) break;
  }
  return n;
}

void writeUnitsStreaming(void* destination, CharWidth width, const char32_t* text, std::size_t count) noexcept {
#ifdef __SSE2__
  // The units before the first one on a 16-byte boundary go the ordinary
  // way, as do the last few.
  auto* bytes = static_cast<unsigned char*>(destination);
  const std::size_t unit = unitBytes(width);
  const auto misaligned = reinterpret_cast<std::uintptr_t>(bytes) % 16;
  const std::size_t head = misaligned == 0 ? 0 : (16 - misaligned) / unit;
  if (misaligned % unit != 0 || count < head + 64) {
    writeUnits(destination, width, text, count);
    return;
  }
  writeUnits(bytes, width, text, head);
  std::size_t i = head;
  if (width == CharWidth::Unicode) {
    for (; i + 4 <= count; i += 4)
      _mm_stream_si128(reinterpret_cast<__m128i*>(bytes + i * 4),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i)));
  } else {
    // Sixteen characters at a time: those above 255 become '?', the rest
    // their low byte.
    const __m128i zero = _mm_setzero_si128();
    const __m128i replacement = _mm_set1_epi32(static_cast<int>(kUnrepresentable));
    auto narrowFour = [&](std::size_t at) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
      const __m128i fits = _mm_cmpeq_epi32(_mm_srli_epi32(units, 8), zero);
      return _mm_or_si128(_mm_and_si128(fits, units), _mm_andnot_si128(fits, replacement));
    };
    for (; i + 16 <= count; i += 16) {
      const __m128i low = _mm_packs_epi32(narrowFour(i), narrowFour(i + 4));
      const __m128i high = _mm_packs_epi32(narrowFour(i + 8), narrowFour(i + 12));
      _mm_stream_si128(reinterpret_cast<__m128i*>(bytes + i), _mm_packus_epi16(low, high));
    }
  }
  _mm_sfence();
  writeUnits(bytes + i * unit, width, text + i, count - i);
#else
  writeUnits(destination, width, text, count);
#endif
}

void readUnitsStreaming(char32_t* out, const void* source, CharWidth width, std::size_t count) noexcept {
#ifdef __SSE2__
  // The characters before the first one on a 16-byte boundary go the
  // ordinary way, as do the last few.
  const auto misaligned = reinterpret_cast<std::uintptr_t>(out) % 16;
  const std::size_t head = misaligned == 0 ? 0 : (16 - misaligned) / 4;
  if (misaligned % 4 != 0 || count < head + 64) {
    readUnitsInto(out, source, width, count);
    return;
  }
  readUnitsInto(out, source, width, head);
  const auto* bytes = static_cast<const unsigned char*>(source);
  std::size_t i = head;
  if (width == CharWidth::Unicode) {
    for (; i + 4 <= count; i += 4)
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i * 4)));
  } else {
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) {
      const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
      const __m128i low = _mm_unpacklo_epi8(units, zero);
      const __m128i high = _mm_unpackhi_epi8(units, zero);
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi16(low, zero));
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + i + 4), _mm_unpackhi_epi16(low, zero));
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpacklo_epi16(high, zero));
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + i + 12), _mm_unpackhi_epi16(high, zero));
    }
  }
  _mm_sfence();
  readUnitsInto(out + i, bytes + i * unitBytes(width), width, count - i);
#else
  readUnitsInto(out, source, width, count);
#endif
}

std::u32string readTerminated(const void* source, CharWidth width, std::size_t limit) {
  if (source == nullptr) return {};
  return readUnits(source, width, terminatedLength(source, width, limit));
}

std::u32string readUnits(const void* source, CharWidth width, std::size_t count) {
  std::u32string out(count, U'\0');
  readUnitsInto(out.data(), source, width, count);
  return out;
}

std::vector<std::u32string> split(std::u32string_view text, char32_t separator) {
  std::vector<std::u32string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::u32string_view::npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::u32string join(const std::vector<std::u32string>& parts, char32_t separator) {
  std::u32string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) out.push_back(separator);
    out += parts[i];
  }
  return out;
}

}  // namespace corvane::host
