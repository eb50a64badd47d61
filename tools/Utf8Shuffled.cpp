// Utf8Shuffled.cpp - the blocks of Utf8Blocks.h with SSSE3: a block's
// characters are gathered, and four characters' UTF-8 bytes packed, by one
// byte shuffle instead of one store a character.  Built for SSSE3 whatever
// the rest of the program is built for, and used only where the processor
// has it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "Simd.h"

// CORVANE_NO_SHUFFLES builds it without them, for the tests of the rest.
#if defined(CORVANE_SIMD) && (defined(__x86_64__) || defined(__i386__)) && \
    (defined(__GNUC__) || defined(__clang__)) && !defined(CORVANE_NO_SHUFFLES)
#define CORVANE_SHUFFLES 1
#include <emmintrin.h>
#include <tmmintrin.h>
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif
#endif

#include "Utf8Blocks.h"

namespace corvane::cli {

#if defined(CORVANE_SHUFFLES)
namespace {

constexpr std::array<Gather, 256> kGathers = makeGathers();

// The lanes of `points` marked in `marked` as characters at to[n] on; all
// eight lanes are written.
inline void gather(__m128i points, unsigned marked, char32_t* to, std::size_t& n) {
  const Gather& g = kGathers[marked];
  const __m128i gathered =
      _mm_shuffle_epi8(points, _mm_loadu_si128(reinterpret_cast<const __m128i*>(g.shuffle.data())));
  const __m128i zero = _mm_setzero_si128();
  auto* out = reinterpret_cast<__m128i*>(to + n);
  _mm_storeu_si128(out, _mm_unpacklo_epi16(gathered, zero));
  _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(gathered, zero));
  n += g.count;
}

constexpr std::array<Pack, 256> kPacks = makePacks();

}  // namespace

const char* decodeShuffled(const char* p, const char* const end, bool latin1, char32_t* const to,
                           std::size_t& written, const std::size_t room) {
  std::size_t n = written;
  while (p != end) {
    __m128i v;
    unsigned size = 0;
    if (takePlainBlock(p, end, to, n, v, size)) continue;
    unsigned starts = 0;
    const unsigned used = blockStarts(v, size, latin1, starts);
    if (used == 0) break;
    __m128i low, high;
    blockPoints(v, low, high);
    if (room - n >= 16) {  // always so but for the last few bytes
      gather(low, starts & 0xFF, to, n);
      gather(high, starts >> 8, to, n);
    } else {
      char32_t last[16];
      std::size_t m = 0;
      gather(low, starts & 0xFF, last, m);
      gather(high, starts >> 8, last, m);
      std::memcpy(to + n, last, m * sizeof(char32_t));
      n += m;
    }
    p += used;
  }
  written = n;
  return p;
}

namespace {

// Four characters below U+10000 and outside the surrogates as UTF-8 at
// to[n] on (sixteen bytes written for at most twelve: four characters have
// room for sixteen, and those before took no more than theirs); else false,
// with nothing written.
inline bool packFour(__m128i characters, char* const to, std::size_t& n) {
  __m128i bytes, two, three;
  if (!utf8Words(characters, bytes, two, three)) return false;
  const Pack& k = kPacks[static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(two))) |
                         static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(three))) << 4];
  _mm_storeu_si128(
      reinterpret_cast<__m128i*>(to + n),
      _mm_shuffle_epi8(bytes, _mm_loadu_si128(reinterpret_cast<const __m128i*>(k.shuffle.data()))));
  n += k.count;
  return true;
}

}  // namespace

std::size_t encodeShuffled(const char32_t* const from, const std::size_t count, char* const to,
                           std::size_t& written) {
  const auto load = [](const char32_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
  std::size_t n = written, i = 0;
  // A fixed step: where the next characters are never waits for how long
  // the last ones were.
  for (; count - i >= 16; i += 16) {
    if (narrowAscii(from + i, to + n) == 16) {
      n += 16;
      continue;
    }
    std::size_t k = 0;
    while (k < 16 && packFour(load(from + i + k), to, n)) k += 4;
    if (k != 16) {
      written = n;
      return i + k;
    }
  }
  if (const std::size_t left = count - i; left >= 8 && narrowShortAscii(from + i, left, to + n)) {
    written = n + left;
    return count;
  }
  for (; count - i >= 4; i += 4)
    if (!packFour(load(from + i), to, n)) break;
  if (const std::size_t left = count - i; left != 0 && left < 4) {
    // The last one to three with zeros after them, one byte each, which
    // are not counted; the bytes past the text go to the spare room.
    const auto at = [&](std::size_t k) { return static_cast<int>(k < left ? from[i + k] : 0); };
    if (packFour(_mm_setr_epi32(at(0), at(1), at(2), 0), to, n)) {
      n -= 4 - left;
      i = count;
    }
  }
  written = n;
  return i;
}

bool shufflesWork() { return __builtin_cpu_supports("ssse3"); }

#else

const char* decodeShuffled(const char* p, const char*, bool, char32_t*, std::size_t&, std::size_t) {
  return p;
}
std::size_t encodeShuffled(const char32_t*, std::size_t, char*, std::size_t&) { return 0; }
bool shufflesWork() { return false; }

#endif

}  // namespace corvane::cli

#if defined(CORVANE_SHUFFLES)
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#endif
