/* FormatStrings.h - how the formatted commands frame a list's rows and cells:
 * the six format strings, the separators joined from them, the "VARIANT:" lists
 * that give each column its own prefix or suffix, and the routines that
 * read and split them (FormatStrings.cpp). */
#ifndef CORVANE_FORMATSTRINGS_H
#define CORVANE_FORMATSTRINGS_H

#include <stdint.h>

#include "corvane/CorvaneAbi.h"
#include "qchar.h"

enum {
  kFormatSlotChars = kCvFormatStringChars + 3,     /* a format parameter: 255 characters and room */
  kJoinedSlotChars = 5 * kCvFormatStringChars + 1, /* a string joined from up to five parameters */
  kVariantEntries = kCvVariantEntries              /* entries per side of a variant list */
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
  /* Offsets into colPrefix (0..127) and colSuffix (128..255), and the
   * lengths of the entries there: a command that writes or matches an entry
   * per cell does not measure it again each time. */
  int16_t variantOffsets[2 * kVariantEntries];
  int16_t variantLengths[2 * kVariantEntries];
  /* Entries each side's variant list really holds, 0 without a list. */
  int16_t variantCount[2];
} FormatSpec;

struct InstanceBlock;

/* Reads parameters 3 to 8 into the format slots. */
void ReadFormatStrings(FormatSpec* format, HostCallback cb);
/* Splits a "VARIANT:" list in colPrefix (which != 0) or colSuffix. */
void CheckForPrefixSuffixVariants(int32_t which, struct InstanceBlock* block);
/* Clears both flags and splits both sides. */
void PrepareVariants(struct InstanceBlock* block);
/* The prefix and suffix of column k: a variant entry, the empty string for
 * a column the list has no entry for, or the whole slot. */
const qchar* ColumnPrefix(const FormatSpec* format, int32_t k);
const qchar* ColumnSuffix(const FormatSpec* format, int32_t k);
/* Their lengths in characters. */
int32_t ColumnPrefixLength(const FormatSpec* format, int32_t k);
int32_t ColumnSuffixLength(const FormatSpec* format, int32_t k);

#endif
