// Encoding.cpp - UTF-8, Latin-1 and raw bytes for the plug-in's characters.
#include "Encoding.h"

#include <utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::cli {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0u) == 0x80u; }

std::string hexByte(unsigned char byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", static_cast<unsigned>(byte));
  return buffer;
}

#if defined(__SSE2__)
// Sixteen bytes at `from` widened to sixteen characters at `to`; gives how
// many of them lead the block as plain ASCII (neither zero nor above 0x7F).
// All sixteen are written: the caller has room for them and counts on
// only that many.
// Sixteen bytes as sixteen characters at `to`.
void storeWidened(__m128i bytes, char32_t* to) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
  auto* out = reinterpret_cast<__m128i*>(to);
  _mm_storeu_si128(out, _mm_unpacklo_epi16(low, zero));
  _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(low, zero));
  _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(high, zero));
  _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(high, zero));
}

// How many of the sixteen lead before the first byte marked in `stop`.
unsigned leading(unsigned stop) { return stop == 0 ? 16u : static_cast<unsigned>(__builtin_ctz(stop)); }

unsigned widenAscii(const char* from, char32_t* to) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  storeWidened(bytes, to);
  return leading(static_cast<unsigned>(_mm_movemask_epi8(bytes)) |
                 static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()))));
}

// As widenAscii for raw bytes: how many lead the block before a zero.
unsigned widenBytes(const char* from, char32_t* to) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
  storeWidened(bytes, to);
  return leading(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128()))));
}

// Sixteen characters at `from` as the sixteen bytes of their low eight bits.
void narrowBytes(const char32_t* from, char* to) {
  const auto* in = reinterpret_cast<const __m128i*>(from);
  const __m128i low = _mm_set1_epi32(0xFF);
  const __m128i a = _mm_and_si128(_mm_loadu_si128(in), low), b = _mm_and_si128(_mm_loadu_si128(in + 1), low),
                c = _mm_and_si128(_mm_loadu_si128(in + 2), low),
                d = _mm_and_si128(_mm_loadu_si128(in + 3), low);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to),
                   _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d)));
}

// Sixteen characters at `from` narrowed to sixteen bytes at `to`; gives how
// many of them lead the block as ASCII (below 0x80).
unsigned narrowAscii(const char32_t* from, char* to) {
  const auto* in = reinterpret_cast<const __m128i*>(from);
  const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1), c = _mm_loadu_si128(in + 2),
                d = _mm_loadu_si128(in + 3);
  // A character is ASCII when none of its bits above the low seven is set;
  // compared as signed numbers, a character at or above 2^31 counts too.
  const __m128i limit = _mm_set1_epi32(0x7F);
  auto above = [&](__m128i v) {
    const __m128i over = _mm_or_si128(_mm_cmpgt_epi32(v, limit), _mm_cmplt_epi32(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(over)));
  };
  const unsigned stop = above(a) | above(b) << 4 | above(c) << 8 | above(d) << 12;
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to), packed);
  return leading(stop);
}
#endif

}  // namespace

std::string describeCharacter(char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
  std::string text = buffer;
  const bool printable =
      c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0) && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
  if (printable) {
    text += " \"";
    utf8::unchecked::append(static_cast<std::uint32_t>(c), std::back_inserter(text));
    text += "\"";
  }
  return text;
}

std::optional<std::string> characterProblem(char32_t c, TextMode mode) {
  if (c == 0) return std::string("a zero character, which ends every string the plug-in handles");
  if (mode != TextMode::Unicode && c > 0xFF) {
    if (mode == TextMode::Bytes) return describeCharacter(c) + " does not fit in one byte";
    return describeCharacter(c) +
           " is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, "
           "or --raw-bytes to pass bytes unchanged)";
  }
  return std::nullopt;
}

std::optional<DecodeProblem> decodeText(std::string_view bytes, TextMode mode, std::u32string& out) {
  const std::size_t start = out.size();
  out.resize(start + bytes.size());  // at most one character per byte
  std::size_t n = 0;
  auto problem = decodeText(bytes, mode, out.data() + start, n);
  out.resize(start + n);
  return problem;
}

std::optional<DecodeProblem> decodeText(std::string_view bytes, TextMode mode, char32_t* const to,
                                        std::size_t& written) {
  std::size_t n = 0;
  auto finish = [&](std::optional<DecodeProblem> problem) {
    written = n;
    return problem;
  };
  if (mode == TextMode::Bytes) {
    std::size_t i = 0;
#if defined(__SSE2__)
    while (bytes.size() - i >= 16) {
      const unsigned plain = widenBytes(bytes.data() + i, to + n);
      n += plain;
      i += plain;
      if (plain != 16) break;
    }
#endif
    for (; i < bytes.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte == 0) return finish(DecodeProblem{i, *characterProblem(0, mode)});
      to[n++] = byte;
    }
    return finish(std::nullopt);
  }
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* p = begin;
  const char* words = begin;  // eight bytes at a time are tried again from here
  while (p != end) {
    // Most text is ASCII: the plain bytes before the next other one go
    // sixteen at a time (the output has room for one character a byte).
#if defined(__SSE2__)
    while (end - p >= 16 && static_cast<unsigned char>(*p) - 1u < 0x7Fu) {
      const unsigned plain = widenAscii(p, to + n);
      n += plain;
      p += plain;
      if (plain != 16) break;
    }
#endif
    // Else eight bytes at a time when none of them is zero or above 0x7F,
    // and (for those eight) a character at a time.
    while (p >= words && end - p >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, p, 8);
      constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
      if ((word & kHigh) != 0 || ((word - kOnes) & ~word & kHigh) != 0) {
        words = p + 8;
        break;
      }
      for (int k = 0; k < 8; ++k) to[n + static_cast<std::size_t>(k)] = static_cast<unsigned char>(p[k]);
      n += 8;
      p += 8;
    }
    if (p == end) break;
    const auto byte = static_cast<unsigned char>(*p);
    if (byte != 0 && byte < 0x80) {
      to[n++] = byte;
      ++p;
      continue;
    }
    const char* at = p;
    if (byte == 0)
      return finish(DecodeProblem{static_cast<std::size_t>(at - begin), *characterProblem(0, mode)});
    // Two bytes (Latin, Greek, Cyrillic ...) and three (the rest of the
    // first plane but surrogates) are checked here, four by the library.
    const auto second = end - p >= 2 ? static_cast<unsigned char>(p[1]) : 0u;
    if (byte >= 0xC2 && byte <= 0xDF && (second & 0xC0) == 0x80) {
      const char32_t c = (char32_t{byte} & 0x1F) << 6 | (second & 0x3F);
      if (mode == TextMode::Latin1 && c > 0xFF)
        return finish(DecodeProblem{static_cast<std::size_t>(at - begin), *characterProblem(c, mode)});
      to[n++] = c;
      p += 2;
      continue;
    }
    if (byte >= 0xE0 && byte <= 0xEF && end - p >= 3 && (static_cast<unsigned char>(p[2]) & 0xC0) == 0x80 &&
        second >= (byte == 0xE0 ? 0xA0u : 0x80u) && second <= (byte == 0xED ? 0x9Fu : 0xBFu)) {
      const char32_t c = (char32_t{byte} & 0x0F) << 12 | (char32_t{second} & 0x3F) << 6 |
                         (static_cast<unsigned char>(p[2]) & 0x3F);
      if (mode == TextMode::Latin1)  // above U+07FF
        return finish(DecodeProblem{static_cast<std::size_t>(at - begin), *characterProblem(c, mode)});
      to[n++] = c;
      p += 3;
      continue;
    }
    std::uint32_t c = 0;
    if (utf8::internal::validate_next(p, end, c) != utf8::internal::UTF8_OK)
      return finish(
          DecodeProblem{static_cast<std::size_t>(at - begin), "invalid UTF-8 (byte " + hexByte(byte) + ")"});
    if (mode == TextMode::Latin1 && c > 0xFF)
      return finish(DecodeProblem{static_cast<std::size_t>(at - begin), *characterProblem(c, mode)});
    to[n++] = static_cast<char32_t>(c);
  }
  return finish(std::nullopt);
}

namespace {

// Writes `text` at `to`, which has room for four bytes a character; gives
// the number of bytes written.
std::size_t encodeInto(std::u32string_view text, TextMode mode, char* const to) {
  std::size_t n = 0;
  if (mode == TextMode::Bytes) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; text.size() - i >= 16; i += 16, n += 16) narrowBytes(text.data() + i, to + n);
#endif
    for (; i < text.size(); ++i) to[n++] = static_cast<char>(static_cast<unsigned char>(text[i]));
    return n;
  }
  std::size_t words = 0;  // eight characters at a time are tried again from here
  for (std::size_t i = 0; i < text.size();) {
#if defined(__SSE2__)
    // The ASCII characters before the next other one, sixteen at a time
    // (`to` has room for four bytes a character).
    if (text[i] < 0x80 && text.size() - i >= 16) {
      const unsigned plain = narrowAscii(text.data() + i, to + n);
      n += plain;
      i += plain;
      if (plain == 16) continue;
    }
#endif
    // Eight ASCII characters at a time, else (for those eight) one by one.
    if (i >= words && text.size() - i >= 8) {
      char32_t any = 0;
      for (std::size_t k = 0; k < 8; ++k) any |= text[i + k];
      if (any < 0x80) {
        for (std::size_t k = 0; k < 8; ++k) to[n + k] = static_cast<char>(text[i + k]);
        n += 8;
        i += 8;
        continue;
      }
      words = i + 8;
    }
    char32_t c = text[i++];
    if (c < 0x80) {
      to[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
      to[n++] = static_cast<char>(0xC0 | (c >> 6));
      to[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000 && (c < 0xD800 || c > 0xDFFF)) {
      to[n++] = static_cast<char>(0xE0 | (c >> 12));
      to[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      to[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      // The plug-in only moves the characters it was given, so these are
      // code points; anything else would have been refused on the way in.
      if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
      n = static_cast<std::size_t>(utf8::unchecked::append(static_cast<std::uint32_t>(c), to + n) - to);
    }
  }
  return n;
}

}  // namespace

void encodeText(std::u32string_view text, TextMode mode, std::string& out) {
  const std::size_t unit = mode == TextMode::Bytes ? 1 : 4;
  constexpr std::size_t kStretch = 1024;
  if (text.size() <= kStretch) {  // a cell: straight into `out`
    const std::size_t start = out.size();
    out.resize(start + unit * text.size());
    out.resize(start + encodeInto(text, mode, out.data() + start));
    return;
  }
  // A long text a stretch at a time through a buffer on the stack: growing
  // `out` by the most it can take would first fill all that with zeros.
  char buffer[4 * kStretch];
  out.reserve(out.size() + text.size());
  for (std::size_t at = 0; at < text.size(); at += kStretch)
    out.append(buffer, encodeInto(text.substr(at, kStretch), mode, buffer));
}

std::string encodeText(std::u32string_view text, TextMode mode) {
  std::string out;
  out.reserve(text.size());
  encodeText(text, mode, out);
  return out;
}

std::string describePosition(std::string_view bytes, std::size_t byteOffset, TextMode mode,
                             std::size_t firstLine) {
  byteOffset = std::min(byteOffset, bytes.size());
  std::size_t line = firstLine;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < byteOffset; ++i) {
    if (bytes[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::size_t character = 1;
  for (std::size_t i = lineStart; i < byteOffset; ++i)
    if (mode == TextMode::Bytes || !isContinuation(static_cast<unsigned char>(bytes[i]))) ++character;
  return "line " + std::to_string(line) + ", character " + std::to_string(character);
}

}  // namespace corvane::cli
