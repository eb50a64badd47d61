/* qchar.h - the host character and the handle type of this build, and the
 * one way the plug-in's routines report success. */
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

/* What a routine that can fail gives: kCvResultOk (0) on success, otherwise
 * the result code the command reports for that failure.  A routine that
 * gives a pointer gives null on failure instead. */
typedef int16_t ResultCode;

/* Sizes are signed 32-bit byte counts in both builds. */
typedef int32_t XPSize;
#define XP_SIZE_MAX INT32_MAX

#endif
