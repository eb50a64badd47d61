/* kXPqUtil.h - fixed and movable memory blocks. */
#ifndef CORVANE_KXPQUTIL_H
#define CORVANE_KXPQUTIL_H

#include "corvane/CorvaneAbi.h"
#include "FaultPoints.h"
#include "qchar.h"

/* Every allocation, resize and lock names its site: the fault point of the
 * test builds there (FaultPoints.h); the shipped builds ignore it. */

/* A fixed, zero-filled block, or null.  A size below 0 fails. */
void* NewXPPointer(XPSize size, XPFaultSite site);
void DisposeXPPointer(void* block);

/* A movable block, or null.  Zero-filled up to 8,192 bytes; larger blocks
 * have undefined contents.  A size below 0 fails. */
enum { kXPZeroFilledBytes = 8192 };
XPHandle NewXPHandle(XPSize size, XPFaultSite site);
/* 0 on success (the variable may now hold a new handle; added bytes are
 * zero-filled), 1 on failure (variable, size and contents unchanged). */
int ResizeXPHandle(XPHandle* handle, XPSize size, XPFaultSite site);
void* LockXPHandle(XPHandle handle, XPFaultSite site);
void UnlockXPHandle(XPHandle handle);
void DisposeXPHandle(XPHandle handle);
/* The block's actual size in bytes, 0 for null.  A host may have grown,
 * shrunk or replaced a block it filled, so callers trust only this. */
XPSize XPHandleSize(XPHandle handle);

/* The largest size a movable block may have here: the portable record
 * keeps its header inside the signed 32-bit size. */
#if defined(_WIN32)
#define XP_HANDLE_SIZE_MAX XP_SIZE_MAX
#else
#define XP_HANDLE_SIZE_MAX (XP_SIZE_MAX - CORVANE_HANDLE_HEADER)
#endif

/* Byte count of n items of `unit` bytes plus `extra`, or -1 when it would
 * not fit a signed 32-bit size. */
XPSize XPByteCount(int64_t n, int32_t unit, int64_t extra);

/* The system beeper; silent where there is none. */
void XPBeep(uint32_t frequency, uint32_t milliseconds);

#endif
