/* qchar.h - the host character and the handle type of this build. */
#ifndef CORVANE_QCHAR_H
#define CORVANE_QCHAR_H

#include <stdint.h>

#ifdef CORVANE_UNICODE
typedef uint32_t qchar; /* one 32-bit host character */
#else
typedef uint8_t qchar; /* one 8-bit host character */
#endif

/* A movable memory block: HGLOBAL on Windows, a CorvanePortableHandle
 * record elsewhere.  Only the memory routines look inside. */
typedef void* XPHandle;

/* Sizes are signed 32-bit byte counts in both builds. */
typedef int32_t XPSize;
#define XP_SIZE_MAX INT32_MAX

#endif
