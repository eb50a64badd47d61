/* ColumnRefs.h - a list's column definition resolved into the host's field
 * references of its columns (ColumnRefs.cpp). */
#ifndef CORVANE_COLUMNREFS_H
#define CORVANE_COLUMNREFS_H

#include <stdint.h>

#include "corvane/CorvaneAbi.h"
#include "qchar.h"

/* Column references of a list into *refs (n + 1 entries, the last 0; the
 * caller frees them) and n (at least 1) into *count.  kCvResultOk, or
 * kCvResultGrowth (over 400 columns), kCvResultResource (no memory) or
 * kCvResultColumns (an empty definition or an unknown name) with *refs null
 * and *count 0. */
ResultCode GetTheListRefs(int16_t list, int16_t** refs, int16_t* count, HostCallback cb);

#endif
