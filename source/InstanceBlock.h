/* InstanceBlock.h - what the plug-in keeps between calls, one per instance
 * slot, and the record a command runs with. */
#ifndef CORVANE_INSTANCEBLOCK_H
#define CORVANE_INSTANCEBLOCK_H

#include <stdint.h>

#include "CorvaneAbi.h"
#include "FaultPoints.h"
#include "qchar.h"

enum {
  kFormatSlotChars = 258,         /* a format parameter: 255 characters and room */
  kJoinedSlotChars = 5 * 255 + 1, /* a string joined from up to five parameters */
  kVariantEntries = 128,          /* entries per side of a variant list */
  kScratchInitialSize = 32500,
  kScratchGrowth = 32000,
  kScratchMargin = 500,
  kBigInitialSize = 5306880,
  kBigGrowth = 0x200000,
  kBigMargin = 64000
};

typedef qchar FormatSlot[kFormatSlotChars];
typedef qchar JoinedSlot[kJoinedSlotChars];

/* The six format strings, the strings joined from them for parsing, and the
 * per-column variant lists. */
typedef struct FormatSpec {
  FormatSlot rowPrefix;
  FormatSlot rowSuffix;
  FormatSlot rowDelim;
  FormatSlot colPrefix;
  FormatSlot colSuffix;
  FormatSlot colDelim;
  JoinedSlot rowStart; /* rowPrefix, first column's prefix */
  JoinedSlot cellSep;  /* colSuffix, colDelim, colPrefix */
  JoinedSlot rowSep;   /* rowEnd then rowStart */
  JoinedSlot rowEnd;   /* last column's suffix, rowSuffix, rowDelim */
  int32_t prefixVariant;
  int32_t suffixVariant;
  /* Offsets into colPrefix (0..127) and colSuffix (128..255). */
  int16_t variantOffsets[2 * kVariantEntries];
  /* Entries each side of the table really holds, 0 without a list. */
  int16_t variantCount[2];
} FormatSpec;

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

/* One execute message: what a command reads and what it leaves behind for
 * the entry point to free. */
typedef struct CommandCall {
  InstanceBlock* block;
  HostCallback cb;
  int16_t paramCount;
  int16_t result;
  int16_t* columnRefs;   /* freed by the entry point */
  XPHandle stringHandle; /* freed by the entry point */
  void* workspace;       /* freed by the entry point */
} CommandCall;

/* A working buffer of the InstanceBlock while a command writes into it. */
typedef struct WorkBuffer {
  XPHandle* handle;       /* the block's handle field */
  XPSize* size;           /* the block's size field */
  XPSize step;            /* the least growth in bytes */
  qchar* start;           /* while locked */
  XPFaultSite growthSite; /* the first of its growth sites (FaultPoints.h) */
} WorkBuffer;

enum { kGrowOk = 0, kGrowRefused = 1, kGrowLost = 2 };

/* Grows the buffer by half its size, or by its step when the larger block
 * cannot be had, at most to the largest block.  kGrowOk: grown and locked again, start
 * updated.  kGrowRefused: the resize failed; the old block, unchanged, is
 * locked again into start (null if that failed too).  kGrowLost: grown but
 * not locked again; start is null. */
int GrowWorkBuffer(WorkBuffer* buffer);
/* Grows until `chars` host characters fit; the result as GrowWorkBuffer. */
int EnsureWorkRoom(WorkBuffer* buffer, int64_t chars);

void FormattedStringToList(CommandCall* call);
void ListToFormattedString(CommandCall* call);
void StringToList(CommandCall* call);
void ListToString(CommandCall* call);

/* Column references of a list: the array (n + 1 entries, the last 0) or
 * null, with n or -1 (over 400 columns), -2 (no memory), -3 (empty
 * definition or an unknown name) in *count. */
int16_t* GetTheListRefs(int16_t list, int16_t* count, HostCallback cb);
/* The ResultCode for a failed GetTheListRefs count. */
int16_t ColumnRefsResult(int16_t count);

/* Reads parameters 3 to 8 into the format slots. */
void ReadFormatStrings(FormatSpec* format, HostCallback cb);
/* Splits a "VARIANT:" list in colPrefix (which != 0) or colSuffix. */
void CheckForPrefixSuffixVariants(int32_t which, InstanceBlock* block);
/* Clears both flags and splits both sides. */
void PrepareVariants(InstanceBlock* block);
/* The prefix and suffix of column k: a variant entry, the empty string for
 * a column the list has no entry for, or the whole slot. */
const qchar* ColumnPrefix(const FormatSpec* format, int32_t k);
const qchar* ColumnSuffix(const FormatSpec* format, int32_t k);

/* Design help (message 3). */
void doDesignInfo(void* designRecord, int16_t command, int16_t firstDeclaration, void* module);

#endif
