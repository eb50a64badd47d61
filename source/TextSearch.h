/* TextSearch.h - finding a pattern in a long text in linear time.
 *
 * A search finds the first occurrence of the pattern at or after a start
 * position and never looks past the first zero character at or after it,
 * exactly as OMstrstr on the remaining text would, but without measuring
 * the text again on every search.  A searcher remembers how far it has
 * scanned, so a sequence of searches from start positions that only move
 * forward reads every character once (Knuth-Morris-Pratt).  The text before
 * the current start position may change between searches; the text at or
 * after it must not.  The caller gives the position of a zero that ends the
 * text (`end`; zeros before it still stop a search): the search reads
 * several characters at once but nothing past it. */
#ifndef CORVANE_TEXTSEARCH_H
#define CORVANE_TEXTSEARCH_H

#include <stdint.h>

#include "qchar.h"

typedef struct TextSearcher {
  const qchar* pattern;
  int32_t length;
  int32_t* border; /* length + 1 entries: the KMP failure function */
  int32_t scanned; /* characters before this position have been read */
  int32_t state;   /* pattern characters matched just before `scanned` */
  int32_t found;   /* start of the last occurrence found, or -1 */
  int32_t stopped; /* the zero where the last search gave up, or -1 */
  int32_t anchor;  /* the pattern's least common character, looked for first */
} TextSearcher;

/* border has room for length + 1 entries. */
void SearcherInit(TextSearcher* searcher, const qchar* pattern, int32_t length, int32_t* border);
/* Forgets what was scanned, keeps the pattern. */
void SearcherReset(TextSearcher* searcher);
/* The first occurrence at or after `from`, or -1 when the text reaches a
 * zero character first.  An empty pattern is found at `from`.  text[end] is
 * zero and from <= end. */
int32_t SearchFrom(TextSearcher* searcher, const qchar* text, int32_t from, int32_t end);

#endif
