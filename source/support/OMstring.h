/* OMstring.h - zero-terminated strings of host characters, and the
 * conversions into host characters. */
#ifndef CORVANE_OMSTRING_H
#define CORVANE_OMSTRING_H

#include <stdint.h>

#include "qchar.h"

int32_t OMstrlen(const qchar* s);                      /* 0 for null */
qchar* OMstrcpy(qchar* dst, const qchar* src);         /* nothing when either is null */
qchar* OMstrcat(qchar* dst, const qchar* src);         /* nothing when either is null */
qchar* OMstrstr(qchar* s, const qchar* pattern);       /* s itself for an empty pattern */
int OMstrcmp(const qchar* a, const qchar* b);          /* -1, 0 or 1; characters unsigned */
int OMmemcmp(const void* a, const void* b, int32_t n); /* -1, 0 or 1; bytes unsigned */
/* Characters before the terminator, counting no further than `limit`. */
int32_t OMstrnlen(const qchar* s, int32_t limit);
/* Copies the characters of src, not its terminator, to dst; returns how many. */
int32_t OMappend(qchar* dst, const qchar* src);

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
