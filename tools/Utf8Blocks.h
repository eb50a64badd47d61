// Utf8Blocks.h - UTF-8 sixteen bytes at a time, for Encoding.cpp and for
// Utf8Shuffled.cpp, which builds the same steps for processors with SSSE3,
// and the tables of shuffles that it and Utf8Wide.cpp (AVX2) share.
// Everything here has internal linkage, so each file gets its own copy,
// compiled for the instructions that file may use.
#ifndef CORVANE_TOOLS_UTF8BLOCKS_H
#define CORVANE_TOOLS_UTF8BLOCKS_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Simd.h"

namespace corvane::cli {

// Room past the most bytes a text can encode to, which encoding may write.
inline constexpr std::size_t kEncodeSpare = 16;

// Decodes blocks of sixteen bytes (the last one shorter) from `p` on, as
// long as each holds plain ASCII or characters of up to three bytes that
// pass every check, into to[n] on (`to` has room for `room` characters, at
// least one a byte); gives where it stopped: at `end`, or at a block that
// needs the careful path.  Only where shufflesWork() says the processor has
// SSSE3.
const char* decodeShuffled(const char* p, const char* end, bool latin1, char32_t* to, std::size_t& n,
                           std::size_t room);
// Encodes characters from `from` (`count` of them) as UTF-8 at to[n] on,
// four at a time, as long as they are below U+10000 and no surrogate
// (`to` has room for four bytes a character and kEncodeSpare more); gives
// how many it took.
std::size_t encodeShuffled(const char32_t* from, std::size_t count, char* to, std::size_t& n);
bool shufflesWork();

// The same with AVX2, thirty-two bytes or sixteen characters a step, only
// where wideWorks() says the processor has it.  Decoding takes the
// characters before the first one that needs the careful path and stops
// there, on its first byte; encoding stops at the first character at or
// above U+10000 or a surrogate.
const char* decodeWide(const char* p, const char* end, bool latin1, char32_t* to, std::size_t& n,
                       std::size_t room);
std::size_t encodeWide(const char32_t* from, std::size_t count, char* to, std::size_t& n);
bool wideWorks();

namespace {

// For the eight lanes of 16 bits marked in a byte: the shuffle that moves
// them to the front in order (zeros after), and how many they are.
struct Gather {
  std::array<std::uint8_t, 16> shuffle;
  unsigned count;
};

constexpr std::array<Gather, 256> makeGathers() {
  std::array<Gather, 256> table{};
  for (unsigned marked = 0; marked < 256; ++marked) {
    Gather& g = table[marked];
    g.count = 0;
    for (auto& b : g.shuffle) b = 0x80;  // a zero byte
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((marked >> lane & 1u) == 0) continue;
      g.shuffle[2 * g.count] = static_cast<std::uint8_t>(2 * lane);
      g.shuffle[2 * g.count + 1] = static_cast<std::uint8_t>(2 * lane + 1);
      ++g.count;
    }
  }
  return table;
}

// For four characters whose lengths are given by two marks each (bit k:
// the k-th has two bytes or more, bit k + 4: it has three): the shuffle
// that packs the bytes of their words together, and how many those are.
struct Pack {
  std::array<std::uint8_t, 16> shuffle;
  unsigned count;
};

constexpr std::array<Pack, 256> makePacks() {
  std::array<Pack, 256> table{};
  for (unsigned marks = 0; marks < 256; ++marks) {
    Pack& k = table[marks];
    k.count = 0;
    for (auto& b : k.shuffle) b = 0x80;
    for (unsigned character = 0; character < 4; ++character) {
      const unsigned length = 1 + (marks >> character & 1u) + (marks >> (character + 4) & 1u);
      for (unsigned b = 0; b < length; ++b)
        k.shuffle[k.count++] = static_cast<std::uint8_t>(4 * character + b);
    }
  }
  return table;
}

#if defined(CORVANE_SIMD)
// How many of the sixteen lead before the first byte marked in `stop`.
inline unsigned leading(unsigned stop) {
  return stop == 0 ? 16u : static_cast<unsigned>(__builtin_ctz(stop));
}

// Sixteen characters at `from` narrowed to sixteen bytes at `to`; gives how
// many of them lead the block as ASCII (below 0x80).
inline unsigned narrowAscii(const char32_t* from, char* to) {
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

// The last 8 to 15 characters of a text, at `from`, narrowed to bytes at
// `to` when all of them are ASCII: two groups of eight that may overlap, so
// that nothing past the last character is read and no byte past its own is
// written.  Short cells go this way.
inline bool narrowShortAscii(const char32_t* from, std::size_t left, char* to) {
  const auto* front = reinterpret_cast<const __m128i*>(from);
  const auto* back = reinterpret_cast<const __m128i*>(from + left - 8);
  const __m128i a = _mm_loadu_si128(front), b = _mm_loadu_si128(front + 1), c = _mm_loadu_si128(back),
                d = _mm_loadu_si128(back + 1);
  const __m128i limit = _mm_set1_epi32(0x7F), zero = _mm_setzero_si128();
  auto over = [&](__m128i v) { return _mm_or_si128(_mm_cmpgt_epi32(v, limit), _mm_cmplt_epi32(v, zero)); };
  if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(over(a), over(b)), _mm_or_si128(over(c), over(d)))) != 0)
    return false;
  const __m128i packed = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(to), packed);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(to + left - 8), _mm_srli_si128(packed, 8));
  return true;
}

// Four characters as UTF-8, a word each with the first byte lowest, when
// all are below U+10000 and none is a surrogate; else false.  `two` and
// `three` mark the characters of two bytes or more and of three.
inline bool utf8Words(__m128i c, __m128i& bytes, __m128i& two, __m128i& three) {
  // Compared as signed numbers, a character at or above 2^31 is below zero.
  const __m128i other = _mm_or_si128(
      _mm_or_si128(_mm_cmpgt_epi32(c, _mm_set1_epi32(0xFFFF)), _mm_cmplt_epi32(c, _mm_setzero_si128())),
      _mm_cmpeq_epi32(_mm_and_si128(c, _mm_set1_epi32(0xF800)), _mm_set1_epi32(0xD800)));
  if (_mm_movemask_epi8(other) != 0) return false;
  two = _mm_cmpgt_epi32(c, _mm_set1_epi32(0x7F));
  three = _mm_cmpgt_epi32(c, _mm_set1_epi32(0x7FF));
  const __m128i follow = _mm_set1_epi32(0x80), low6 = _mm_set1_epi32(0x3F);
  const __m128i last = _mm_or_si128(follow, _mm_and_si128(c, low6));
  const __m128i middle = _mm_or_si128(follow, _mm_and_si128(_mm_srli_epi32(c, 6), low6));
  const __m128i of2 =
      _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0xC0), _mm_srli_epi32(c, 6)), _mm_slli_epi32(last, 8));
  const __m128i of3 = _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0xE0), _mm_srli_epi32(c, 12)),
                                   _mm_or_si128(_mm_slli_epi32(middle, 8), _mm_slli_epi32(last, 16)));
  const __m128i multi = _mm_xor_si128(of2, _mm_and_si128(_mm_xor_si128(of2, of3), three));
  bytes = _mm_xor_si128(c, _mm_and_si128(_mm_xor_si128(c, multi), two));
  return true;
}

// The last `left` bytes of a text (fewer than sixteen) at `p` with zeros
// after them, read without touching a byte past them: in two overlapping
// words, which are shifted into place.
inline __m128i loadLast(const char* p, std::size_t left) {
  std::uint64_t low = 0, high = 0;
  if (left >= 8) {
    std::memcpy(&low, p, 8);
    std::memcpy(&high, p + left - 8, 8);
    high = high >> (8 * (15 - left)) >> 8;  // none of it for eight
  } else if (left >= 4) {
    std::uint32_t first = 0, last = 0;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + left - 4, 4);
    low = first | std::uint64_t{last} << (8 * (left - 4));
  } else if (left != 0) {
    const auto byte = [&](std::size_t i) {
      return std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    };
    low = byte(0) | byte(left / 2) | byte(left - 1);
  }
  return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

// Sixteen bytes as sixteen characters at `to`.
inline void storeWidened(__m128i bytes, char32_t* to) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_unpacklo_epi8(bytes, zero), high = _mm_unpackhi_epi8(bytes, zero);
  auto* out = reinterpret_cast<__m128i*>(to);
  _mm_storeu_si128(out, _mm_unpacklo_epi16(low, zero));
  _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(low, zero));
  _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(high, zero));
  _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(high, zero));
}

// True when all sixteen bytes are ASCII and none is zero.
inline bool plainAscii(__m128i v) {
  return (_mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) == 0;
}

// The last 8 to 15 bytes of a text, at `p`, widened to characters at `to`
// when all of them are ASCII and none is zero: two loads of eight that may
// overlap, so that no byte past the end is read and no character past the
// last is written.  Short cells go this way.
inline bool widenShortAscii(const char* p, std::size_t left, char32_t* to) {
  const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + left - 8));
  if (!plainAscii(_mm_unpacklo_epi64(a, b))) return false;
  const __m128i zero = _mm_setzero_si128();
  const __m128i a16 = _mm_unpacklo_epi8(a, zero), b16 = _mm_unpacklo_epi8(b, zero);
  auto* front = reinterpret_cast<__m128i*>(to);
  auto* back = reinterpret_cast<__m128i*>(to + left - 8);
  _mm_storeu_si128(front, _mm_unpacklo_epi16(a16, zero));
  _mm_storeu_si128(front + 1, _mm_unpackhi_epi16(a16, zero));
  _mm_storeu_si128(back, _mm_unpacklo_epi16(b16, zero));
  _mm_storeu_si128(back + 1, _mm_unpackhi_epi16(b16, zero));
  return true;
}

// Reads the block at `p`: sixteen bytes, or the last few padded with zeros
// (`size` of them real), into `v`.  When they are plain ASCII (sixteen, or
// the last 8 to 15) they are widened to to[n] on at once, p and n move on,
// and the answer is true; else the block waits in `v` for the slower steps.
inline bool takePlainBlock(const char*& p, const char* end, char32_t* to, std::size_t& n, __m128i& v,
                           unsigned& size) {
  const auto left = static_cast<std::size_t>(end - p);
  if (left >= 16) {
    v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    size = 16;
    if (!plainAscii(v)) return false;
    storeWidened(v, to + n);
    n += 16;
    p += 16;
    return true;
  }
  if (left >= 8 && widenShortAscii(p, left, to + n)) {
    n += left;
    p = end;
    return true;
  }
  v = loadLast(p, left);
  size = static_cast<unsigned>(left);
  return false;
}

// Where the characters of one to three bytes start in `v`, whose first
// `size` bytes are text starting on a character (the rest zero), among
// those that end inside them; gives how many bytes those take, or 0 when
// there is anything else before the end (a zero, a four-byte character, a
// sequence that is not UTF-8 or not the shortest, a surrogate, above U+00FF
// for `latin1`), which the careful path then finds.
inline unsigned blockStarts(__m128i v, unsigned size, bool latin1, unsigned& starts) {
  // Bytes compare as signed: 0x80 to 0xFF are the negative ones.
  const auto mask = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
  const auto below = [&](unsigned bound) {
    return mask(_mm_cmplt_epi8(v, _mm_set1_epi8(static_cast<char>(static_cast<unsigned char>(bound)))));
  };
  const unsigned high = mask(v);
  const unsigned continuation = below(0xC0);
  const unsigned fromC2 = high & ~below(0xC2), fromE0 = high & ~below(0xE0), fromF0 = high & ~below(0xF0);
  const unsigned two = fromC2 & ~fromE0, three = fromE0 & ~fromF0;
  const unsigned fromA0 = continuation & ~below(0xA0);  // the second byte of E0 and ED counts
  unsigned bad = mask(_mm_cmpeq_epi8(v, _mm_setzero_si128())) | (high & ~continuation & ~fromC2) | fromF0 |
                 (mask(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE0)))) << 1 & ~fromA0) |
                 (mask(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xED)))) << 1 & fromA0);
  if (latin1) bad |= high & ~below(0xC4);
  const unsigned all = (1u << size) - 1;
  // A character that the block cuts is left for the next one.
  const unsigned cut = ((two | three) & ~(all >> 1)) | (three & ~(all >> 2));
  const unsigned used = cut == 0 ? size : static_cast<unsigned>(__builtin_ctz(cut));
  const unsigned needed = (two | three) << 1 | three << 2;
  if (used == 0 || ((bad | (needed ^ continuation)) & all) != 0) return 0;
  starts = ~continuation & ((1u << used) - 1);
  return used;
}

// Each byte's character as if one started there, in lanes of 16 bits: the
// first eight bytes' in `low`, the last eight's in `high`.
inline void blockPoints(__m128i v, __m128i& low, __m128i& high) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i v1 = _mm_srli_si128(v, 1), v2 = _mm_srli_si128(v, 2);
  const auto points = [](__m128i b0, __m128i b1, __m128i b2) {
    const __m128i low6 = _mm_set1_epi16(0x3F);
    const __m128i of2 =
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b0, _mm_set1_epi16(0x1F)), 6), _mm_and_si128(b1, low6));
    const __m128i of3 =
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(of2, _mm_set1_epi16(0x3FF)), 6), _mm_and_si128(b2, low6));
    const __m128i is2 = _mm_cmpgt_epi16(b0, _mm_set1_epi16(0x7F)),
                  is3 = _mm_cmpgt_epi16(b0, _mm_set1_epi16(0xDF));
    const __m128i multi = _mm_xor_si128(of2, _mm_and_si128(_mm_xor_si128(of2, of3), is3));
    return _mm_xor_si128(b0, _mm_and_si128(_mm_xor_si128(b0, multi), is2));
  };
  low = points(_mm_unpacklo_epi8(v, zero), _mm_unpacklo_epi8(v1, zero), _mm_unpacklo_epi8(v2, zero));
  high = points(_mm_unpackhi_epi8(v, zero), _mm_unpackhi_epi8(v1, zero), _mm_unpackhi_epi8(v2, zero));
}
#endif

}  // namespace

}  // namespace corvane::cli

#endif
