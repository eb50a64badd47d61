// Utf8Wide.cpp - UTF-8 with AVX2: thirty-two bytes decoded, and eight
// characters encoded, a step, with the shuffle tables of Utf8Blocks.h
// applied to both 128-bit halves.  Built for AVX2 whatever the rest of the
// program is built for, and used only where the processor has it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Simd.h"

// CORVANE_NO_WIDE builds it without them, for the tests of the other steps.
#if defined(CORVANE_SIMD) && (defined(__x86_64__) || defined(__i386__)) && \
    (defined(__GNUC__) || defined(__clang__)) && !defined(CORVANE_NO_WIDE)
#define CORVANE_WIDE 1
#include <immintrin.h>
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,popcnt"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,popcnt")
#endif
#endif

#include "Utf8Blocks.h"

namespace corvane::cli {

#if defined(CORVANE_WIDE)
namespace {

constexpr std::array<Gather, 256> kGathers = makeGathers();
constexpr std::array<Pack, 256> kPacks = makePacks();

inline __m128i load16(const void* at) { return _mm_loadu_si128(static_cast<const __m128i*>(at)); }
inline __m256i load32(const void* at) { return _mm256_loadu_si256(static_cast<const __m256i*>(at)); }

// The next 32 bytes at `p`, or the last `left` with zeros after them,
// without reading a byte past the end.
inline __m256i loadBlock(const char* p, std::size_t left) {
  if (left >= 32) return load32(p);
  if (left < 4) return _mm256_zextsi128_si256(loadLast(p, left));
  // The words of four bytes wholly inside by a masked load, which reads
  // nothing of the others; the last one to three bytes from the word that
  // ends the text, shifted down into their place.
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const auto words = static_cast<int>(left / 4);
  const __m256i inside = _mm256_cmpgt_epi32(_mm256_set1_epi32(words), lanes);
  std::uint32_t ending = 0;
  std::memcpy(&ending, p + left - 4, 4);
  const auto rest = static_cast<std::uint32_t>(std::uint64_t{ending} >> (8 * (4 - left % 4)));  // 0 for none
  return _mm256_blendv_epi8(_mm256_maskload_epi32(reinterpret_cast<const int*>(p), inside),
                            _mm256_set1_epi32(static_cast<int>(rest)),
                            _mm256_cmpeq_epi32(_mm256_set1_epi32(words), lanes));
}

// Where the characters of one to three bytes start in `v`, whose first
// `size` bytes are text starting on a character (the rest zero), among
// those that end before anything else (a zero, a four-byte character, a
// sequence that is not UTF-8 or not the shortest, a surrogate, above U+00FF
// for `latin1`, a character cut by the end of the text); gives how many
// bytes those take, 0 when the first character is such.
inline unsigned wideStarts(__m256i v, unsigned size, bool latin1, std::uint32_t& starts) {
  // Bytes compare as signed: 0x80 to 0xFF are the negative ones.
  const auto mask = [](__m256i m) { return static_cast<std::uint32_t>(_mm256_movemask_epi8(m)); };
  const auto below = [&](unsigned bound) {
    return mask(_mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(static_cast<unsigned char>(bound))), v));
  };
  const auto equal = [&](unsigned byte) {
    return mask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(static_cast<unsigned char>(byte)))));
  };
  const std::uint32_t high = mask(v);
  const std::uint32_t continuation = below(0xC0);
  const std::uint32_t fromC2 = high & ~below(0xC2), fromE0 = high & ~below(0xE0),
                      fromF0 = high & ~below(0xF0);
  const std::uint32_t two = fromC2 & ~fromE0, three = fromE0 & ~fromF0;
  const std::uint32_t fromA0 = continuation & ~below(0xA0);  // the second byte of E0 and ED counts
  const std::uint32_t needed = (two | three) << 1 | three << 2;
  std::uint32_t bad = equal(0) | (high & ~continuation & ~fromC2) | fromF0 | (equal(0xE0) << 1 & ~fromA0) |
                      (equal(0xED) << 1 & fromA0) | (needed ^ continuation);
  if (latin1) bad |= high & ~below(0xC4);
  bad &= static_cast<std::uint32_t>((std::uint64_t{1} << size) - 1);
  // The bytes before the first fault are sound; of them, those of the
  // characters that end before it are taken.
  const unsigned sound = bad == 0 ? size : static_cast<unsigned>(__builtin_ctz(bad));
  const auto before = static_cast<std::uint32_t>((std::uint64_t{1} << sound) - 1);
  const std::uint32_t cut = (((two | three) & ~(before >> 1)) | (three & ~(before >> 2))) & before;
  const unsigned used = cut == 0 ? sound : static_cast<unsigned>(__builtin_ctz(cut));
  starts = ~continuation & static_cast<std::uint32_t>((std::uint64_t{1} << used) - 1);
  return used;
}

// Each byte's character as if one started there, in lanes of 16 bits,
// from that byte, the next and the one after (each widened to 16 bits).
inline __m256i widePoints(__m256i b0, __m256i b1, __m256i b2) {
  const __m256i low6 = _mm256_set1_epi16(0x3F);
  const __m256i of2 = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b0, _mm256_set1_epi16(0x1F)), 6),
                                      _mm256_and_si256(b1, low6));
  const __m256i of3 = _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(of2, _mm256_set1_epi16(0x3FF)), 6),
                                      _mm256_and_si256(b2, low6));
  const __m256i is2 = _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0x7F)),
                is3 = _mm256_cmpgt_epi16(b0, _mm256_set1_epi16(0xDF));
  return _mm256_blendv_epi8(b0, _mm256_blendv_epi8(of2, of3, is3), is2);
}

// The lanes of `points` marked in `marked` as characters at out[m] on; all
// eight are written.
inline void gather(__m128i points, unsigned marked, char32_t* out, std::size_t& m) {
  const Gather& g = kGathers[marked];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + m),
                      _mm256_cvtepu16_epi32(_mm_shuffle_epi8(points, load16(g.shuffle.data()))));
  m += g.count;
}

}  // namespace

const char* decodeWide(const char* p, const char* const end, bool latin1, char32_t* const to,
                       std::size_t& written, const std::size_t room) {
  std::size_t n = written;
  while (p != end) {
    const auto left = static_cast<std::size_t>(end - p);
    const unsigned size = left >= 32 ? 32u : static_cast<unsigned>(left);
    const __m256i v = loadBlock(p, left);
    std::uint32_t starts = 0;
    const unsigned used = wideStarts(v, size, latin1, starts);
    if (used == 0) break;
    // Eight characters are written for each eight bytes begun, straight at
    // to[n] where there is room (always but for the last few bytes).
    const unsigned groups = (used + 7) / 8;
    char32_t last[32];
    char32_t* const out = room - n >= 8 * groups ? to + n : last;
    std::size_t m = 0;
    if (starts == static_cast<std::uint32_t>((std::uint64_t{1} << used) - 1)) {
      // ASCII: every byte a character.
      const __m128i low = _mm256_castsi256_si128(v), high = _mm256_extracti128_si256(v, 1);
      const __m128i bytes[4] = {low, _mm_srli_si128(low, 8), high, _mm_srli_si128(high, 8)};
      for (unsigned k = 0; k < groups; ++k)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * k), _mm256_cvtepu8_epi32(bytes[k]));
      m = used;
    } else {
      // The block shifted by one byte and by two: read again where the text
      // goes on for two bytes past the block, else shifted in registers.
      __m256i v1, v2;
      if (left >= 34) {
        v1 = load32(p + 1);
        v2 = load32(p + 2);
      } else {
        const __m256i next = _mm256_permute2x128_si256(v, v, 0x81);  // the high half, then zeros
        v1 = _mm256_alignr_epi8(next, v, 1);
        v2 = _mm256_alignr_epi8(next, v, 2);
      }
      // Bytes 0-7 and 16-23 in `front`, 8-15 and 24-31 in `back`.
      const __m256i zero = _mm256_setzero_si256();
      const __m256i front = widePoints(_mm256_unpacklo_epi8(v, zero), _mm256_unpacklo_epi8(v1, zero),
                                       _mm256_unpacklo_epi8(v2, zero));
      const __m256i back = widePoints(_mm256_unpackhi_epi8(v, zero), _mm256_unpackhi_epi8(v1, zero),
                                      _mm256_unpackhi_epi8(v2, zero));
      gather(_mm256_castsi256_si128(front), starts & 0xFF, out, m);
      if (groups > 1) gather(_mm256_castsi256_si128(back), starts >> 8 & 0xFF, out, m);
      if (groups > 2) gather(_mm256_extracti128_si256(front, 1), starts >> 16 & 0xFF, out, m);
      if (groups > 3) gather(_mm256_extracti128_si256(back, 1), starts >> 24, out, m);
    }
    if (out == last) std::memcpy(to + n, last, m * sizeof(char32_t));
    n += m;
    p += used;
  }
  written = n;
  return p;
}

namespace {

// Eight characters as UTF-8 at to[n] on, up to the first that is at or
// above U+10000 or a surrogate; gives how many that is (8 when none is).
// Sixteen bytes are written at to[n], and unless `half`, sixteen more after
// the first four characters' bytes.
inline unsigned packEight(__m256i c, char* const to, std::size_t& n, bool half = false) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i surrogate =
      _mm256_cmpeq_epi32(_mm256_and_si256(c, _mm256_set1_epi32(0xF800)), _mm256_set1_epi32(0xD800));
  const __m256i fits = _mm256_andnot_si256(surrogate, _mm256_cmpeq_epi32(_mm256_srli_epi32(c, 16), zero));
  const auto fitting = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(fits)));
  // Each character as a word of its bytes, the first lowest.
  const __m256i two = _mm256_cmpgt_epi32(c, _mm256_set1_epi32(0x7F)),
                three = _mm256_cmpgt_epi32(c, _mm256_set1_epi32(0x7FF));
  const __m256i of2 =
      _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(c, 6),
                                      _mm256_slli_epi32(_mm256_and_si256(c, _mm256_set1_epi32(0x3F)), 8)),
                      _mm256_set1_epi32(0x80C0));
  const __m256i of3 =
      _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(c, 12),
                                      _mm256_and_si256(_mm256_slli_epi32(c, 2), _mm256_set1_epi32(0x3F00))),
                      _mm256_or_si256(_mm256_and_si256(_mm256_slli_epi32(c, 16), _mm256_set1_epi32(0x3F0000)),
                                      _mm256_set1_epi32(0x8080E0)));
  const __m256i bytes = _mm256_blendv_epi8(c, _mm256_blendv_epi8(of2, of3, three), two);
  const auto twos = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(two)));
  const auto threes = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(three)));
  const Pack& front = kPacks[(twos & 0xF) | (threes & 0xF) << 4];
  const Pack& back = kPacks[twos >> 4 | (threes >> 4) << 4];
  const __m256i packed =
      _mm256_shuffle_epi8(bytes, _mm256_inserti128_si256(_mm256_castsi128_si256(load16(front.shuffle.data())),
                                                         load16(back.shuffle.data()), 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n), _mm256_castsi256_si128(packed));
  if (!half)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n + front.count), _mm256_extracti128_si256(packed, 1));
  if (fitting == 0xFF) {
    n += front.count + back.count;
    return 8;
  }
  const auto taken = static_cast<unsigned>(__builtin_ctz(~fitting));
  const unsigned before = (1u << taken) - 1;
  n += taken + static_cast<unsigned>(__builtin_popcount(twos & before) + __builtin_popcount(threes & before));
  return taken;
}

}  // namespace

std::size_t encodeWide(const char32_t* const from, const std::size_t count, char* const to,
                       std::size_t& written) {
  std::size_t n = written, i = 0;
  const auto stop = [&](std::size_t taken) {
    written = n;
    return taken;
  };
  for (; count - i >= 16; i += 16) {
    const __m256i a = load32(from + i), b = load32(from + i + 8);
    if (_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_set1_epi32(~0x7F))) {
      // Sixteen ASCII characters: narrowed in halves of four, put in order.
      const __m256i halves = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_setzero_si256());
      _mm_storeu_si128(reinterpret_cast<__m128i*>(to + n),
                       _mm256_castsi256_si128(
                           _mm256_permutevar8x32_epi32(halves, _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0))));
      n += 16;
      continue;
    }
    if (const unsigned k = packEight(a, to, n); k != 8) return stop(i + k);
    if (const unsigned k = packEight(b, to, n); k != 8) return stop(i + 8 + k);
  }
  if (const std::size_t left = count - i; left >= 8) {
    // Eight to fifteen ASCII characters (a short cell) in two groups of
    // eight that may overlap, put in order as above.
    const __m256i a = load32(from + i), b = load32(from + count - 8);
    if (_mm256_testz_si256(_mm256_or_si256(a, b), _mm256_set1_epi32(~0x7F))) {
      const __m256i halves = _mm256_packus_epi16(_mm256_packus_epi32(a, b), _mm256_setzero_si256());
      const __m128i bytes = _mm256_castsi256_si128(
          _mm256_permutevar8x32_epi32(halves, _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0)));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + n), bytes);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(to + n + left - 8), _mm_srli_si128(bytes, 8));
      n += left;
      return stop(count);
    }
    if (const unsigned k = packEight(a, to, n); k != 8) return stop(i + k);
    i += 8;
  }
  if (const std::size_t left = count - i; left != 0) {
    // The last one to seven, read without a character past them, with
    // zeros after them, which fit in a byte each and are not counted.
    const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(left)),
                                             _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i c = _mm256_maskload_epi32(reinterpret_cast<const int*>(from + i), lanes);
    const unsigned k = packEight(c, to, n, left <= 4);
    if (k < left) return stop(i + k);
    n -= 8 - left;
    i = count;
  }
  return stop(i);
}

bool wideWorks() { return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"); }

#else

const char* decodeWide(const char* p, const char*, bool, char32_t*, std::size_t&, std::size_t) { return p; }
std::size_t encodeWide(const char32_t*, std::size_t, char*, std::size_t&) { return 0; }
bool wideWorks() { return false; }

#endif

}  // namespace corvane::cli

#if defined(CORVANE_WIDE)
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
