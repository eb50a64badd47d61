// Text.h - host text for the test host.
//
// The host keeps every text as std::u32string, one element per host
// character.  The plug-in sees host characters of one width: 32-bit units in
// the Unicode build, bytes in the byte build.  These helpers move text between
// that memory form, the host's own form and UTF-8 for people.
#ifndef CORVANE_HOST_TEXT_H
#define CORVANE_HOST_TEXT_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace corvane::host {

// Width of one host character as the plug-in sees it.
enum class CharWidth : std::uint8_t { Byte = 1, Unicode = 4 };

constexpr std::size_t unitBytes(CharWidth width) noexcept { return static_cast<std::size_t>(width); }

// The unit written into byte-wide memory for a character the byte build
// cannot hold (anything above 255).
constexpr char32_t kUnrepresentable = U'?';

// One host character as the given width stores it.
constexpr std::uint32_t narrowUnit(char32_t c, CharWidth width) noexcept {
  if (width == CharWidth::Byte && c > 0xFF) return kUnrepresentable;
  return static_cast<std::uint32_t>(c);
}

// Each byte one host character (how the byte build reads text).
std::u32string fromBytes(std::string_view bytes);
// Each character one byte; characters above 255 become '?'.
std::string toBytes(std::u32string_view text);

// UTF-8 to code points; malformed sequences become U+FFFD.
std::u32string fromUtf8(std::string_view utf8);
// Code points to UTF-8; units that are no code point (above 0x10FFFF or
// surrogates) become U+FFFD.
std::string toUtf8(std::u32string_view text);

// Convenience for literals in tests and tools: ASCII text as host text.
inline std::u32string ascii(std::string_view text) { return fromBytes(text); }

// Copies `bytes` bytes between blocks that do not overlap.  A cell of a few
// dozen bytes is copied in place: calling the C library's copy costs more
// than such a copy.
inline void copyBytes(void* to, const void* from, std::size_t bytes) noexcept {
  auto* d = static_cast<unsigned char*>(to);
  const auto* s = static_cast<const unsigned char*>(from);
#ifdef __SSE2__
  if (bytes >= 16 && bytes <= 64) {
    // Sixteen bytes at a time, the last sixteen overlapping what went before.
    const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + bytes - 16));
    for (std::size_t i = 0; i + 16 < bytes; i += 16)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + bytes - 16), last);
    return;
  }
#endif
  if (bytes >= 4 && bytes <= 16) {
    // Two words of 4 or 8 bytes, overlapping when there are fewer.
    if (bytes >= 8) {
      std::uint64_t head = 0, tail = 0;
      std::memcpy(&head, s, 8);
      std::memcpy(&tail, s + bytes - 8, 8);
      std::memcpy(d, &head, 8);
      std::memcpy(d + bytes - 8, &tail, 8);
    } else {
      std::uint32_t head = 0, tail = 0;
      std::memcpy(&head, s, 4);
      std::memcpy(&tail, s + bytes - 4, 4);
      std::memcpy(d, &head, 4);
      std::memcpy(d + bytes - 4, &tail, 4);
    }
    return;
  }
  if (bytes != 0) std::memcpy(d, s, bytes);
}

// Writes `count` characters of `text` into `destination` in the given width
// (no terminator).  Returns the number of bytes written.
inline std::size_t writeUnits(void* destination, CharWidth width, const char32_t* text,
                              std::size_t count) noexcept {
  if (width == CharWidth::Unicode) {
    static_assert(sizeof(char32_t) == 4, "host characters are 32-bit units");
    copyBytes(destination, text, count * 4);
    return count * 4;
  }
  auto* bytes = static_cast<unsigned char*>(destination);
  std::size_t i = 0;
#ifdef __SSE2__
  // Eight characters at a time: those above 255 become '?', the rest their
  // low byte.
  const __m128i zero = _mm_setzero_si128();
  const __m128i replacement = _mm_set1_epi32(static_cast<int>(kUnrepresentable));
  auto narrowFour = [&](const char32_t* at) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i fits = _mm_cmpeq_epi32(_mm_srli_epi32(units, 8), zero);
    return _mm_or_si128(_mm_and_si128(fits, units), _mm_andnot_si128(fits, replacement));
  };
  auto narrowEight = [&](std::size_t at) {
    const __m128i words = _mm_packs_epi32(narrowFour(text + at), narrowFour(text + at + 4));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + at), _mm_packus_epi16(words, words));
  };
  if (count >= 8) {
    for (; i + 8 <= count; i += 8) narrowEight(i);
    if (i < count) narrowEight(count - 8);  // the last eight again, overlapping
    return count;
  }
#endif
  for (; i < count; ++i) bytes[i] = static_cast<unsigned char>(narrowUnit(text[i], width));
  return count;
}
#ifdef __SSE2__
// Writes `count` characters of `text` and the terminator into `destination`
// as whole blocks of sixteen bytes from its start, zeros behind the
// terminator to the end of the last block, and gives true; false, with
// nothing written, when those blocks need more than `room` characters.
// `text` must be readable for sixteen characters past `count`.  A plug-in
// that measures the cell sixteen bytes at a time from its start then reads
// each block just as it was stored, which the processor forwards at once;
// a read that straddles two smaller stores waits for both to reach the
// cache.
inline bool writeTerminatedBlocks(void* destination, CharWidth width, const char32_t* text, std::size_t count,
                                  std::size_t room) noexcept {
  // Four or sixteen characters a block, shifts rather than divisions.
  const unsigned laneShift = width == CharWidth::Unicode ? 2 : 4;
  const std::size_t lanes = std::size_t{1} << laneShift;
  const std::size_t blocks = (count >> laneShift) + 1;  // the terminator included
  if (blocks * lanes > room) return false;
  auto* d = static_cast<unsigned char*>(destination);
  const auto inLast = static_cast<int>(count - (blocks - 1) * lanes);  // characters before the terminator
  const auto load = [&](std::size_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
  };
  if (width == CharWidth::Unicode) {
    const __m128i laneIndex = _mm_setr_epi32(0, 1, 2, 3);
    for (std::size_t b = 0; b + 1 < blocks; ++b)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * b), load(4 * b));
    const __m128i keep = _mm_cmplt_epi32(laneIndex, _mm_set1_epi32(inLast));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16 * (blocks - 1)),
                     _mm_and_si128(load(4 * (blocks - 1)), keep));
    return true;
  }
  // Those above 255 become '?', the rest their low byte.
  const __m128i zero = _mm_setzero_si128();
  const __m128i replacement = _mm_set1_epi32(static_cast<int>(kUnrepresentable));
  const auto narrowFour = [&](std::size_t at) {
    const __m128i units = load(at);
    const __m128i fits = _mm_cmpeq_epi32(_mm_srli_epi32(units, 8), zero);
    return _mm_or_si128(_mm_and_si128(fits, units), _mm_andnot_si128(fits, replacement));
  };
  for (std::size_t b = 0; b < blocks; ++b) {
    const std::size_t at = 16 * b;
    __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(narrowFour(at), narrowFour(at + 4)),
                                     _mm_packs_epi32(narrowFour(at + 8), narrowFour(at + 12)));
    if (b + 1 == blocks) {
      const __m128i byteIndex = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
      bytes = _mm_and_si128(bytes, _mm_cmplt_epi8(byteIndex, _mm_set1_epi8(static_cast<char>(inLast))));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + at), bytes);
  }
  return true;
}
#endif

// The same with stores that bypass the cache, for a text too long to stay
// there anyway: the lines of `destination` are not read in before they are
// overwritten.
void writeUnitsStreaming(void* destination, CharWidth width, const char32_t* text,
                         std::size_t count) noexcept;
// Writes one unit at unit index `index`.
inline void writeUnit(void* destination, CharWidth width, std::size_t index, char32_t unit) noexcept {
  auto* bytes = static_cast<unsigned char*>(destination);
  if (width == CharWidth::Byte) {
    bytes[index] = static_cast<unsigned char>(narrowUnit(unit, width));
  } else {
    const std::uint32_t value = unit;
    std::memcpy(bytes + index * 4, &value, 4);
  }
}
// Reads the unit at unit index `index`.
inline char32_t readUnit(const void* source, CharWidth width, std::size_t index) noexcept {
  const auto* bytes = static_cast<const unsigned char*>(source);
  if (width == CharWidth::Byte) return bytes[index];
  std::uint32_t value = 0;
  std::memcpy(&value, bytes + index * 4, 4);
  return value;
}
// Reads `count` host characters into `out`.
inline void readUnitsInto(char32_t* out, const void* source, CharWidth width, std::size_t count) noexcept {
  if (count == 0) return;
  if (width == CharWidth::Unicode) {
    copyBytes(out, source, count * 4);
    return;
  }
  const auto* bytes = static_cast<const unsigned char*>(source);
  std::size_t i = 0;
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  auto widenEight = [&](std::size_t at) {
    const __m128i words =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + at)), zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_unpacklo_epi16(words, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 4), _mm_unpackhi_epi16(words, zero));
  };
  if (count >= 8) {
    for (; i + 8 <= count; i += 8) widenEight(i);
    if (i < count) widenEight(count - 8);  // the last eight again, overlapping
    return;
  }
#endif
  for (; i < count; ++i) out[i] = bytes[i];
}
// The same with stores that bypass the cache, for a long text that is
// written once and not read again soon: the lines of `out` are not read in
// before they are overwritten.
void readUnitsStreaming(char32_t* out, const void* source, CharWidth width, std::size_t count) noexcept;
// The number of units before the first zero unit, at most `limit`.  Reads
// no unit past the first zero.
std::size_t terminatedLength(const void* source, CharWidth width, std::size_t limit = SIZE_MAX) noexcept;
// Reads a zero-terminated string of host characters, at most `limit`
// characters (the terminator is not needed when the limit is reached).
std::u32string readTerminated(const void* source, CharWidth width, std::size_t limit = SIZE_MAX);
// Reads `count` host characters.
std::u32string readUnits(const void* source, CharWidth width, std::size_t count);

// Splits at every occurrence of `separator`; "a,,b" gives three parts and an
// empty text gives one empty part.
std::vector<std::u32string> split(std::u32string_view text, char32_t separator);
std::u32string join(const std::vector<std::u32string>& parts, char32_t separator);

}  // namespace corvane::host

#endif
