/* ColumnRefs.h - a list's column definition resolved into the host's field
 * references of its columns (ColumnRefs.cpp). */
#ifndef CORVANE_COLUMNREFS_H
#define CORVANE_COLUMNREFS_H

#include <stdint.h>

#include "corvane/CorvaneAbi.h"

/* Column references of a list: the array (n + 1 entries, the last 0) or
 * null, with n or -1 (over 400 columns), -2 (no memory), -3 (empty
 * definition or an unknown name) in *count. */
int16_t* GetTheListRefs(int16_t list, int16_t* count, HostCallback cb);
/* The ResultCode for a failed GetTheListRefs count. */
int16_t ColumnRefsResult(int16_t count);

#endif
