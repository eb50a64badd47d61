/* extutils.h - the module handle and the string resources. */
#ifndef CORVANE_EXTUTILS_H
#define CORVANE_EXTUTILS_H

#include <stdint.h>

#include "qchar.h"

/* The module handle: set when the library is mapped, cleared when it is
 * unmapped; the only state the library keeps outside an instance. */
extern void* hInstLib;

/* The platform's own character: UTF-16 in the Unicode build, bytes in the
 * 8-bit build. */
#ifdef CORVANE_UNICODE
typedef uint16_t oschar;
#else
typedef char oschar;
#endif

/* String base + offset of the module's string table into destination, at
 * most capacity characters including the terminator; an empty string when
 * it cannot be loaded.  Returns the destination. */
oschar* GetResourceOstr(oschar* destination, int32_t capacity, int32_t base, int32_t offset, void* module);

#ifdef CORVANE_UNICODE
/* The same string in host characters. */
qchar* GetResourceStr(qchar* destination, int32_t capacity, int32_t base, int32_t offset, void* module);
#endif

#endif
