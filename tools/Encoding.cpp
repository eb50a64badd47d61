// Encoding.cpp - UTF-8, Latin-1 and raw bytes for the plug-in's characters.
#include "Encoding.h"

#include "Utf8Blocks.h"

#include <utf8.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace corvane::cli {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0u) == 0x80u; }

std::string hexByte(unsigned char byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", static_cast<unsigned>(byte));
  return buffer;
}

#if defined(CORVANE_SIMD)

// Sixteen raw bytes at `from` widened to sixteen characters at `to` (all
// are written: the caller has room for them); gives how many lead the
// block before a zero, the only ones it counts.
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

namespace {

// The character at `p` the careful way, every rule checked one by one: at
// to[n], or the problem it is.
std::optional<DecodeProblem> decodeCharacter(const char*& p, const char* const begin, const char* const end,
                                             TextMode mode, char32_t* const to, std::size_t& n) {
  const auto byte = static_cast<unsigned char>(*p);
  const auto at = static_cast<std::size_t>(p - begin);
  if (byte != 0 && byte < 0x80) {
    to[n++] = byte;
    ++p;
    return std::nullopt;
  }
  if (byte == 0) return DecodeProblem{at, *characterProblem(0, mode)};
  // Two bytes (Latin, Greek, Cyrillic ...) and three (the rest of the
  // first plane but surrogates) are checked here, four by the library.
  const auto second = end - p >= 2 ? static_cast<unsigned char>(p[1]) : 0u;
  if (byte >= 0xC2 && byte <= 0xDF && (second & 0xC0) == 0x80) {
    const char32_t c = (char32_t{byte} & 0x1F) << 6 | (second & 0x3F);
    if (mode == TextMode::Latin1 && c > 0xFF) return DecodeProblem{at, *characterProblem(c, mode)};
    to[n++] = c;
    p += 2;
    return std::nullopt;
  }
  if (byte >= 0xE0 && byte <= 0xEF && end - p >= 3 && (static_cast<unsigned char>(p[2]) & 0xC0) == 0x80 &&
      second >= (byte == 0xE0 ? 0xA0u : 0x80u) && second <= (byte == 0xED ? 0x9Fu : 0xBFu)) {
    const char32_t c = (char32_t{byte} & 0x0F) << 12 | (char32_t{second} & 0x3F) << 6 |
                       (static_cast<unsigned char>(p[2]) & 0x3F);
    if (mode == TextMode::Latin1) return DecodeProblem{at, *characterProblem(c, mode)};  // above U+07FF
    to[n++] = c;
    p += 3;
    return std::nullopt;
  }
  std::uint32_t c = 0;
  if (utf8::internal::validate_next(p, end, c) != utf8::internal::UTF8_OK)
    return DecodeProblem{at, "invalid UTF-8 (byte " + hexByte(byte) + ")"};
  if (mode == TextMode::Latin1 && c > 0xFF) return DecodeProblem{at, *characterProblem(c, mode)};
  to[n++] = static_cast<char32_t>(c);
  return std::nullopt;
}

#if defined(CORVANE_SIMD)
// The characters of one to three bytes that start in `v`, whose first
// `size` bytes are text starting on a character (the rest zero), and end
// inside those: they go to to[n] on, where there is room for `room`.  Gives
// how many bytes they take, or 0 for the careful path (see blockStarts).
unsigned decodeBlock(__m128i v, unsigned size, bool latin1, char32_t* const to, std::size_t& n,
                     std::size_t room) {
  unsigned starts = 0;
  const unsigned used = blockStarts(v, size, latin1, starts);
  if (used == 0) return 0;
  __m128i low, high;
  blockPoints(v, low, high);
  alignas(16) std::uint16_t at[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(at), low);
  _mm_store_si128(reinterpret_cast<__m128i*>(at + 8), high);
  if (room - n >= 16) {
    // Every byte writes its character and counts it only where one starts:
    // no branch for where they are.
#pragma GCC unroll 16
    for (unsigned i = 0; i < 16; ++i) {
      to[n] = at[i];
      n += starts >> i & 1u;
    }
  } else {
    for (unsigned rest = starts; rest != 0; rest &= rest - 1) to[n++] = at[__builtin_ctz(rest)];
  }
  return used;
}
#endif

}  // namespace

std::optional<DecodeProblem> decodeText(std::string_view bytes, TextMode mode, char32_t* const to,
                                        std::size_t& written, std::size_t room) {
  room = std::max(room, bytes.size());
  std::size_t n = 0;
  auto finish = [&](std::optional<DecodeProblem> problem) {
    written = n;
    return problem;
  };
  if (mode == TextMode::Bytes) {
    std::size_t i = 0;
#if defined(CORVANE_SIMD)
    while (bytes.size() - i >= 16) {
      const unsigned plain = widenBytes(bytes.data() + i, to + n);
      n += plain;
      i += plain;
      if (plain != 16) break;
    }
    if (const std::size_t left = bytes.size() - i; left != 0 && left < 16) {
      // The last few at once unless one is zero, through a copy when the
      // room ends before sixteen.
      const __m128i v = loadLast(bytes.data() + i, left);
      if ((static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) &
           ((1u << left) - 1)) == 0) {
        if (room - n >= 16) {
          storeWidened(v, to + n);
        } else {
          char32_t last[16];
          storeWidened(v, last);
          std::memcpy(to + n, last, left * sizeof(char32_t));
        }
        n += left;
        i += left;
      }
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
#if defined(CORVANE_SIMD)
  const bool latin1 = mode == TextMode::Latin1;
  static const bool wide = wideWorks(), shuffles = shufflesWork();
  if (wide) {
    // Thirty-two bytes at a time up to the next character that needs the
    // careful path, that one alone, and on.
    while (p != end) {
      p = decodeWide(p, end, latin1, to, n, room);
      if (p == end) break;
      if (auto problem = decodeCharacter(p, begin, end, mode, to, n)) return finish(problem);
    }
    return finish(std::nullopt);
  }
  while (p != end) {
    if (shuffles) {
      p = decodeShuffled(p, end, latin1, to, n, room);
      if (p == end) break;
    }
    // Sixteen bytes at a time: plain ASCII widened at once, else the
    // characters of up to three bytes decoded together; the last few bytes
    // through a copy padded with zeros.
    __m128i v;
    unsigned size = 0;
    if (takePlainBlock(p, end, to, n, v, size)) continue;
    if (const unsigned used = decodeBlock(v, size, latin1, to, n, room); used != 0) {
      p += used;
      continue;
    }
    // Something else in the block: its characters one at a time.
    for (const char* const blockEnd = p + size; p < blockEnd;)
      if (auto problem = decodeCharacter(p, begin, end, mode, to, n)) return finish(problem);
  }
#else
  const char* words = begin;  // eight bytes at a time are tried again from here
  while (p != end) {
    // Eight bytes at a time when none of them is zero or above 0x7F, and
    // (for those eight) a character at a time.
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
    if (auto problem = decodeCharacter(p, begin, end, mode, to, n)) return finish(problem);
  }
#endif
  return finish(std::nullopt);
}

namespace {

// One character at to[n] as UTF-8.
void encodeCharacter(char32_t c, char* const to, std::size_t& n) {
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

#if defined(CORVANE_SIMD)
// Four characters at `from` as UTF-8 at to[n] on, when all are below
// U+10000 and none is a surrogate; else false, with nothing written.  Each
// is written as a word of four bytes and counted by its length, so `to`
// needs room for four bytes a character.
bool encodeFour(const char32_t* from, char* const to, std::size_t& n) {
  __m128i bytes, two, three;
  if (!utf8Words(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), bytes, two, three)) return false;
  // The length, 1 to 3, goes in the top byte, which no character uses.
  const __m128i length = _mm_sub_epi32(_mm_sub_epi32(_mm_set1_epi32(1), two), three);
  const __m128i words = _mm_or_si128(bytes, _mm_slli_epi32(length, 24));
  std::size_t at = n;  // in a register: `to` could alias `n`
  const auto put = [&](__m128i word) {
    const auto bits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(word));
    std::memcpy(to + at, &bits, 4);
    at += bits >> 24;
  };
  put(words);
  put(_mm_shuffle_epi32(words, 1));
  put(_mm_shuffle_epi32(words, 2));
  put(_mm_shuffle_epi32(words, 3));
  n = at;
  return true;
}
#endif

// Writes `text` at `to`, which has room for four bytes a character and
// kEncodeSpare more; gives the number of bytes written.
std::size_t encodeInto(std::u32string_view text, TextMode mode, char* const to) {
  std::size_t n = 0;
  if (mode == TextMode::Bytes) {
    std::size_t i = 0;
#if defined(CORVANE_SIMD)
    for (; text.size() - i >= 16; i += 16, n += 16) narrowBytes(text.data() + i, to + n);
#endif
    for (; i < text.size(); ++i) to[n++] = static_cast<char>(static_cast<unsigned char>(text[i]));
    return n;
  }
  std::size_t i = 0;
#if defined(CORVANE_SIMD)
  static const bool wide = wideWorks(), shuffles = shufflesWork();
  if (wide) {
    // Sixteen characters at a time up to the next one at or above U+10000
    // or a surrogate, that one alone, and on.
    while (i < text.size()) {
      i += encodeWide(text.data() + i, text.size() - i, to, n);
      if (i < text.size()) encodeCharacter(text[i++], to, n);
    }
    return n;
  }
  while (text.size() - i >= 4) {
    if (shuffles) {
      i += encodeShuffled(text.data() + i, text.size() - i, to, n);
      if (text.size() - i < 4) break;
    }
    // The ASCII characters before the next other one sixteen at a time,
    // then four of any length up to three bytes at once.
    if (text.size() - i >= 16) {
      const unsigned plain = narrowAscii(text.data() + i, to + n);
      n += plain;
      i += plain;
      if (plain == 16 || text.size() - i < 4) continue;
    } else if (const std::size_t left = text.size() - i;
               left >= 8 && narrowShortAscii(text.data() + i, left, to + n)) {
      n += left;
      i += left;
      break;
    }
    if (encodeFour(text.data() + i, to, n))
      i += 4;
    else
      encodeCharacter(text[i++], to, n);
  }
#else
  std::size_t words = 0;  // eight characters at a time are tried again from here
  while (text.size() - i >= 8) {
    // Eight ASCII characters at a time, else (for those eight) one by one.
    if (i >= words) {
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
    encodeCharacter(text[i++], to, n);
  }
#endif
  for (; i < text.size(); ++i) encodeCharacter(text[i], to, n);
  return n;
}

}  // namespace

void encodeText(std::u32string_view text, TextMode mode, std::string& out) {
  const std::size_t unit = mode == TextMode::Bytes ? 1 : 4;
  constexpr std::size_t kStretch = 1024;
  if (text.size() <= kStretch) {  // a cell: straight into `out`
    const std::size_t start = out.size();
    out.resize(start + unit * text.size() + kEncodeSpare);
    out.resize(start + encodeInto(text, mode, out.data() + start));
    return;
  }
  // A long text a stretch at a time through a buffer on the stack: growing
  // `out` by the most it can take would first fill all that with zeros.
  char buffer[4 * kStretch + kEncodeSpare];
  out.reserve(out.size() + text.size());
  for (std::size_t at = 0; at < text.size(); at += kStretch)
    out.append(buffer, encodeInto(text.substr(at, kStretch), mode, buffer));
}

std::size_t encodeTextAt(std::u32string_view text, TextMode mode, char* to) {
  static_assert(kEncodeRoomSpare >= kEncodeSpare);
  return encodeInto(text, mode, to);
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
