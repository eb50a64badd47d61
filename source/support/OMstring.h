/* OMstring.h - zero-terminated strings of host characters, and the
 * conversions into host characters. */
#ifndef CORVANE_OMSTRING_H
#define CORVANE_OMSTRING_H

#include <stdint.h>
#include <string.h>

#include "qchar.h"

int32_t OMstrlen(const qchar* s);                      /* 0 for null */
qchar* OMstrcpy(qchar* dst, const qchar* src);         /* nothing when either is null */
qchar* OMstrcat(qchar* dst, const qchar* src);         /* nothing when either is null */
qchar* OMstrstr(qchar* s, const qchar* pattern);       /* s itself for an empty pattern */
int OMstrcmp(const qchar* a, const qchar* b);          /* -1, 0 or 1; characters unsigned */
int OMmemcmp(const void* a, const void* b, int32_t n); /* -1, 0 or 1; bytes unsigned */
/* Characters before the terminator, counting no further than `limit`;
 * s has room for `limit` characters, which are read a block at a time. */
int32_t OMstrnlen(const qchar* s, int32_t limit);
/* Copies the characters of src, not its terminator, to dst; returns how many. */
int32_t OMappend(qchar* dst, const qchar* src);

/* Copies n characters (no terminator); a copy of up to 16 bytes is made in
 * place with two overlapping moves instead of a call. */
static inline void OMcopy(qchar* dst, const qchar* src, int32_t n) {
  const size_t bytes = (size_t)n * sizeof(qchar);
  unsigned char* d = reinterpret_cast<unsigned char*>(dst);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
  if (bytes > 16) {
    memcpy(d, s, bytes);
  } else if (bytes >= 8) {
    uint64_t head, tail;
    memcpy(&head, s, 8);
    memcpy(&tail, s + bytes - 8, 8);
    memcpy(d, &head, 8);
    memcpy(d + bytes - 8, &tail, 8);
  } else if (bytes >= 4) {
    uint32_t head, tail;
    memcpy(&head, s, 4);
    memcpy(&tail, s + bytes - 4, 4);
    memcpy(d, &head, 4);
    memcpy(d + bytes - 4, &tail, 4);
  } else {
    for (size_t i = 0; i < bytes; ++i) d[i] = s[i];
  }
}

/* Length-prefixed copy for the host's name form: at most 254 characters;
 * the destination has room for 256 host characters. */
void sthandle(const qchar* src, qchar* dst);

/* 8-bit literal into host characters; a 0 follows when `terminate` is set.
 * The Unicode build widens each byte as a signed value. */
void CHRcopyAsciiStringToQchar(const char* src, qchar* dst, uint8_t terminate);

#ifdef CORVANE_UNICODE
/* UTF-16 into 32-bit characters, zero-terminated.  A surrogate at the very
 * end becomes the marker 1, a surrogate without its partner the marker 2.
 * Returns the characters written, terminator not counted. */
int32_t CHRoscharToChar(const uint16_t* src, qchar* dst);
#endif

#endif
