/* OMstring.cpp - string routines in host characters.  The platform's own
 * string functions work in other units, so these are written out. */
#include "OMstring.h"

#include "corvane/CorvaneAbi.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

/* What CHRoscharToChar leaves for malformed UTF-16. */
enum { kSurrogateAtEnd = 1, kUnpairedSurrogate = 2 };

static void copyThroughTerminator(qchar* dst, const qchar* src) {
  while ((*dst++ = *src++) != 0) {
  }
}

int32_t OMstrlen(const qchar* s) {
  if (s == nullptr) return 0;
  const qchar* p = s;
  while (*p != 0) ++p;
  return (int32_t)(p - s);
}

int32_t OMstrnlen(const qchar* s, int32_t limit) {
  int32_t n = 0;
#if defined(__SSE2__)
  enum { kLanes = 16 / (int)sizeof(qchar) };
  const __m128i zero = _mm_setzero_si128();
  for (; limit - n >= kLanes; n += kLanes) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + n));
#ifdef CORVANE_UNICODE
    int mask = _mm_movemask_epi8(_mm_cmpeq_epi32(v, zero));
#else
    int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
#endif
    if (mask != 0) return n + __builtin_ctz((unsigned)mask) / (int)sizeof(qchar);
  }
#elif defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  /* Every zero lane of a word gets its top bit set; lanes above the lowest
   * zero lane may be set too, so only the lowest counts. */
#ifdef CORVANE_UNICODE
  const uint64_t ones = 0x0000000100000001ull, tops = 0x8000000080000000ull;
#else
  const uint64_t ones = 0x0101010101010101ull, tops = 0x8080808080808080ull;
#endif
  enum { kLanes = 8 / (int)sizeof(qchar) };
  for (; limit - n >= kLanes; n += kLanes) {
    uint64_t v;
    memcpy(&v, s + n, sizeof v);
    uint64_t zeros = (v - ones) & ~v & tops;
    if (zeros != 0) return n + (int32_t)(__builtin_ctzll(zeros) / (8 * sizeof(qchar)));
  }
#endif
  while (n < limit && s[n] != 0) ++n;
  return n;
}

int32_t OMappend(qchar* dst, const qchar* src) {
  int32_t n = 0;
  for (; src[n] != 0; ++n) dst[n] = src[n];
  return n;
}

qchar* OMstrcpy(qchar* dst, const qchar* src) {
  if (dst != nullptr && src != nullptr) copyThroughTerminator(dst, src);
  return dst;
}

qchar* OMstrcat(qchar* dst, const qchar* src) {
  if (dst != nullptr && src != nullptr) copyThroughTerminator(dst + OMstrlen(dst), src);
  return dst;
}

int OMmemcmp(const void* a, const void* b, int32_t n) {
  const uint8_t* x = static_cast<const uint8_t*>(a);
  const uint8_t* y = static_cast<const uint8_t*>(b);
  for (int32_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

/* The literal search: measure both strings, then compare at every start
 * that leaves room for the pattern.  The commands that search long texts
 * use the linear search of TextSearch instead, which finds the same. */
qchar* OMstrstr(qchar* s, const qchar* pattern) {
  int32_t n = OMstrlen(pattern);
  if (n == 0) return s;
  int32_t m = OMstrlen(s);
  for (int32_t i = 0; n <= m - i; ++i) {
    if (OMmemcmp(s + i, pattern, n * (int32_t)sizeof(qchar)) == 0) return s + i;
  }
  return nullptr;
}

int OMstrcmp(const qchar* a, const qchar* b) {
  for (;; ++a, ++b) {
    if (*a != 0 && *b != 0) {
      if (*a != *b) return *a < *b ? -1 : 1;
      continue;
    }
    if (*a != 0) return 1;
    if (*b != 0) return -1;
    return 0;
  }
}

void sthandle(const qchar* src, qchar* dst) {
  int32_t copied = 0;
  for (;;) {
    qchar c = src[copied];
    dst[copied + 1] = c;
    ++copied;
    if (c == 0) {
      dst[0] = (qchar)(copied - 1);
      return;
    }
    if (copied == kCvCountedChars) {
      dst[0] = kCvMaxNameChars;
      return;
    }
  }
}

void CHRcopyAsciiStringToQchar(const char* src, qchar* dst, uint8_t terminate) {
  for (; *src != 0; ++src, ++dst) {
#ifdef CORVANE_UNICODE
    *dst = (qchar)(int32_t)(signed char)*src;
#else
    *dst = (qchar)(unsigned char)*src;
#endif
  }
  if (terminate) *dst = 0;
}

#ifdef CORVANE_UNICODE
int32_t CHRoscharToChar(const uint16_t* src, qchar* dst) {
  int32_t count = 0;
  while (*src != 0) {
    uint16_t first = *src++;
    if (first < 0xD800 || first > 0xDFFF) {
      dst[count++] = first;
      continue;
    }
    if (*src == 0) {
      dst[count++] = kSurrogateAtEnd;
      break;
    }
    uint16_t second = *src++;
    if (first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF)
      dst[count++] = 0x10000u + ((qchar)(first & 0x3FF) << 10) + (second & 0x3FF);
    else
      dst[count++] = kUnpairedSurrogate;
  }
  dst[count] = 0;
  return count;
}
#endif
