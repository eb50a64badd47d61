/* Instance.h - what the plug-in keeps between calls, one per instance slot:
 * the InstanceBlock with its two working buffers (the ScratchBuffer and the
 * BigBuffer), their sizes and growth steps, and the routines that grow a
 * buffer while a command writes into it (WorkBuffer.cpp). */
#ifndef CORVANE_INSTANCE_H
#define CORVANE_INSTANCE_H

#include <stdint.h>

#include "corvane/CorvaneAbi.h"
#include "FaultPoints.h"
#include "FormatStrings.h"
#include "qchar.h"

enum {
  kScratchInitialSize = kCvScratchInitialBytes,
  kScratchGrowth = kCvScratchStepBytes,
  kScratchMargin = kCvScratchMarginBytes,
  kBigInitialSize = kCvBigInitialBytes,
  kBigGrowth = kCvBigStepBytes,
  kBigMargin = kCvBigMarginBytes
};

typedef struct InstanceBlock {
  uint32_t state; /* CORVANE_STATE_LOAD, _COOL or _MERR */
  FormatSpec format;
  XPHandle scratchBuffer;
  XPSize scratchSize;
  int16_t lineCountRef; /* the host's reference for "#LN" */
  qchar variantKeyword[10];
  XPHandle bigBuffer;
  XPSize bigSize;
} InstanceBlock;

/* A working buffer of the InstanceBlock while a command writes into it. */
typedef struct WorkBuffer {
  XPHandle* handle;       /* the block's handle field */
  XPSize* size;           /* the block's size field */
  XPSize step;            /* the least growth in bytes */
  qchar* start;           /* while locked */
  XPFaultSite growthSite; /* the first of its growth sites (FaultPoints.h) */
} WorkBuffer;

/* Grows the buffer by half its size, or by its step when the larger block
 * cannot be had, at most to the largest block.  kCvResultOk: grown and
 * locked again, start updated.  kCvResultGrowth: either the resize failed
 * and the old block, unchanged, is locked again into start (null if that
 * failed too), or the block grew but could not be locked again and start is
 * null. */
ResultCode GrowWorkBuffer(WorkBuffer* buffer);
/* Grows until `chars` host characters fit; the result as GrowWorkBuffer. */
ResultCode EnsureWorkRoom(WorkBuffer* buffer, int64_t chars);

#endif
