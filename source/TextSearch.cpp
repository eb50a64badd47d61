/* TextSearch.cpp - resumable Knuth-Morris-Pratt over host characters.
 *
 * Where no match is under way the search looks for the next place an
 * occurrence can start: sixteen bytes at a time with SSE2 where the
 * compiler offers it, a 64-bit word at a time otherwise.  There it compares
 * the pattern straight on, and only a mismatch after a partial match goes
 * back to the failure function, one character at a time. */
#include "TextSearch.h"

#include <string.h>

#include "OMstring.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define CORVANE_SCAN_SSE2 1
#endif
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define CORVANE_SCAN_WORDS 1
#endif

/* How often a character is likely to stand in a text, roughly: line breaks
 * least, then other control characters, punctuation, other characters,
 * digits, letters, and the space most. */
static int Commonness(qchar c) {
  if (c == '\n' || c == '\r') return 0;
  if (c < 0x20 || c == 0x7F) return 1;
  if (c == ' ') return 6;
  if (c >= '0' && c <= '9') return 4;
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return 5;
  if (c < 0x80) return 2;
  return 3;
}

#if defined(CORVANE_SCAN_WORDS) && !defined(CORVANE_SCAN_SSE2)
/* Eight 8-bit or two 32-bit characters in one word: every lane that is zero
 * gets its top bit set.  Lanes above the lowest zero lane may be set too,
 * so only the lowest counts. */
#ifdef CORVANE_UNICODE
static const uint64_t kLaneOnes = 0x0000000100000001ull;
static const uint64_t kLaneTops = 0x8000000080000000ull;
enum { kLaneBits = 32 };
#else
static const uint64_t kLaneOnes = 0x0101010101010101ull;
static const uint64_t kLaneTops = 0x8080808080808080ull;
enum { kLaneBits = 8 };
#endif
static inline uint64_t zeroLanes(uint64_t v) { return (v - kLaneOnes) & ~v & kLaneTops; }
#endif

/* The first position at or after pos that holds `want` (a character other
 * than zero) or a zero; *atZero tells which.  text[end] is a zero, and
 * nothing past it is read. */
static int32_t scanFor(const qchar* text, int32_t pos, int32_t end, qchar want, int* atZero) {
#if defined(CORVANE_SCAN_SSE2)
  enum { kLanes = 16 / (int)sizeof(qchar) };
#ifdef CORVANE_UNICODE
  const __m128i wanted = _mm_set1_epi32((int)want);
#else
  const __m128i wanted = _mm_set1_epi8((char)want);
#endif
  const __m128i zero = _mm_setzero_si128();
  while (end - pos >= kLanes - 1) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + pos));
#ifdef CORVANE_UNICODE
    unsigned zeros = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi32(v, zero));
    unsigned hits = zeros | (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi32(v, wanted));
#else
    unsigned zeros = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
    unsigned hits = zeros | (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted));
#endif
    if (hits != 0) {
      int first = __builtin_ctz(hits);
      *atZero = (int)((zeros >> first) & 1u);
      return pos + first / (int)sizeof(qchar);
    }
    pos += kLanes;
  }
#elif defined(CORVANE_SCAN_WORDS)
  enum { kLanes = 8 / (int)sizeof(qchar) };
  const uint64_t wanted = (uint64_t)want * kLaneOnes;
  while (end - pos >= kLanes - 1) {
    uint64_t v;
    memcpy(&v, text + pos, sizeof v);
    /* The lowest lane set in either mask is exact, and no lane is both. */
    uint64_t zeros = zeroLanes(v);
    uint64_t hits = zeros | zeroLanes(v ^ wanted);
    if (hits != 0) {
      int first = __builtin_ctzll(hits);
      *atZero = (int)((zeros >> first) & 1u);
      return pos + (int32_t)(first / kLaneBits);
    }
    pos += kLanes;
  }
#endif
  while (text[pos] != want && text[pos] != 0) ++pos;
  *atZero = text[pos] == 0;
  return pos;
}

/* How many characters from the start the text and the pattern have in
 * common, at most `length`; the text has `length` characters to read. */
static int32_t matchLength(const qchar* text, const qchar* pattern, int32_t length) {
  int32_t k = 0;
#if defined(CORVANE_SCAN_SSE2)
  enum { kLanes = 16 / (int)sizeof(qchar) };
  if (length >= kLanes) {
    for (;; k += kLanes) {
      /* The last block overlaps the one before, which matched. */
      if (k + kLanes > length) k = length - kLanes;
      __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + k));
      __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + k));
      unsigned differ = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) ^ 0xFFFFu;
      if (differ != 0) return k + __builtin_ctz(differ) / (int)sizeof(qchar);
      if (k + kLanes == length) return length;
    }
  }
#endif
#if defined(CORVANE_SCAN_WORDS)
  enum { kWordLanes = 8 / (int)sizeof(qchar) };
  if (length >= kWordLanes) {
    for (;; k += kWordLanes) {
      if (k + kWordLanes > length) k = length - kWordLanes;
      uint64_t a, b;
      memcpy(&a, text + k, sizeof a);
      memcpy(&b, pattern + k, sizeof b);
      if (a != b) return k + (int32_t)(__builtin_ctzll(a ^ b) / (8 * sizeof(qchar)));
      if (k + kWordLanes == length) return length;
    }
  }
#endif
  while (k < length && text[k] == pattern[k]) ++k;
  return k;
}

void SearcherInit(TextSearcher* searcher, const qchar* pattern, int32_t length, int32_t* border) {
  searcher->pattern = pattern;
  searcher->length = length;
  searcher->border = border;
  searcher->anchor = 0;
  for (int32_t i = 1; i < length; ++i)
    if (Commonness(pattern[i]) < Commonness(pattern[searcher->anchor])) searcher->anchor = i;
  border[0] = 0;
  if (length > 0) border[1] = 0;
  int32_t k = 0;
  for (int32_t i = 1; i < length; ++i) {
    while (k > 0 && pattern[i] != pattern[k]) k = border[k];
    if (pattern[i] == pattern[k]) ++k;
    border[i + 1] = k;
  }
  SearcherReset(searcher);
}

void SearcherReset(TextSearcher* searcher) {
  searcher->scanned = 0;
  searcher->state = 0;
  searcher->found = -1;
  searcher->stopped = -1;
}

static int32_t stopAt(TextSearcher* s, int32_t zero) {
  s->scanned = zero;
  s->state = 0;
  s->stopped = zero;
  return -1;
}

static int32_t foundAt(TextSearcher* s, int32_t pos) {
  s->scanned = pos;
  s->found = pos - s->length;
  /* A full match cannot be extended: continue from its border. */
  s->state = s->border[s->length];
  return s->found;
}

int32_t SearchFrom(TextSearcher* s, const qchar* text, int32_t from, int32_t end) {
  if (s->length == 0) return from;
  if (s->found >= from) return s->found;
  if (s->stopped >= from) return -1;
  if (s->scanned < from || s->stopped >= 0) {
    s->scanned = from;
    s->state = 0;
  } else {
    /* Keep only the part of the current match that starts at or after from. */
    while (s->state > s->scanned - from) s->state = s->border[s->state];
  }
  s->found = -1;
  s->stopped = -1;

  const qchar* pattern = s->pattern;
  const int32_t length = s->length;
  const int32_t anchor = s->anchor;
  int32_t pos = s->scanned;
  int32_t state = s->state;
  int32_t clear = pos; /* the characters before this one are not zero */
  for (;;) {
    if (state == 0) {
      /* No match under way: find where an occurrence can start.  With an
       * anchor, only where its anchor character stands `anchor` places on,
       * as long as the characters passed over hold no zero (the text ends
       * there).  Each character is checked for the zero once, so the search
       * stays linear. */
      int32_t start;
      if (anchor > 0) {
        if (clear < pos) clear = pos;
        const int32_t limit = pos + anchor < end ? pos + anchor : end;
        if (clear < limit) clear += OMstrnlen(text + clear, limit - clear);
        /* A zero before the anchor's place leaves no room for the pattern. */
        if (clear < pos + anchor) return stopAt(s, clear);
        int atZero = 0;
        const int32_t at = scanFor(text, pos + anchor, end, pattern[anchor], &atZero);
        if (atZero) return stopAt(s, at);
        clear = at + 1;
        start = at - anchor;
      } else {
        int atZero = 0;
        start = scanFor(text, pos, end, pattern[0], &atZero);
        if (atZero) return stopAt(s, start);
      }
      /* Compare straight on; a zero never matches. */
      if (end - start >= length)
        state = matchLength(text + start, pattern, length);
      else
        while (text[start + state] == pattern[state]) ++state; /* stops at the zero at end */
      pos = start + state;
      if (state == length) return foundAt(s, pos);
      if (state == 0) {
        ++pos; /* no occurrence starts at `start` */
        continue;
      }
    }
    /* A partial match of `state` characters ends before pos. */
    const qchar c = text[pos];
    if (c == 0) return stopAt(s, pos);
    while (state > 0 && pattern[state] != c) state = s->border[state];
    if (pattern[state] == c) ++state;
    ++pos;
    if (state == length) return foundAt(s, pos);
  }
}
