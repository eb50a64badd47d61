/* TextSearch.cpp - resumable Knuth-Morris-Pratt over host characters. */
#include "TextSearch.h"

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

int32_t SearchFrom(TextSearcher* s, const qchar* text, int32_t from) {
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
  const qchar first = pattern[0];
  const int32_t anchor = s->anchor;
  int32_t pos = s->scanned;
  int32_t state = s->state;
  int32_t clear = pos; /* the characters before this one are not zero */
  for (;;) {
    if (state == 0 && anchor > 0) {
      /* No match under way: an occurrence can only start where its anchor
       * character stands `anchor` places on, so skip to there, as long as
       * the characters passed over hold no zero (the text ends there).
       * Each character is checked for the zero once, so the search stays
       * linear. */
      if (clear < pos) clear = pos;
      while (clear < pos + anchor && text[clear] != 0) ++clear;
      if (clear >= pos + anchor) {
        const qchar want = pattern[anchor];
        const qchar* p = text + pos + anchor;
        while (*p != want && *p != 0) ++p;
        const int32_t at = (int32_t)(p - text);
        if (at >= clear) clear = *p != 0 ? at + 1 : at;
        pos = at - anchor;
      }
    }
    qchar c = text[pos];
    if (state == 0) {
      /* Most of a text is not the first character: skip it quickly. */
      while (c != first && c != 0) c = text[++pos];
    }
    if (c == 0) {
      s->scanned = pos;
      s->state = 0;
      s->stopped = pos;
      return -1;
    }
    while (state > 0 && pattern[state] != c) state = s->border[state];
    if (pattern[state] == c) ++state;
    ++pos;
    if (state == s->length) {
      s->scanned = pos;
      s->found = pos - state;
      /* A full match cannot be extended: continue from its border. */
      s->state = s->border[state];
      return s->found;
    }
  }
}
