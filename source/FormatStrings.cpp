/* FormatStrings.cpp - the six format strings and the "VARIANT:" lists that
 * give each column its own prefix or suffix. */
#include "CALLBACK.h"
#include "FormatStrings.h"
#include "Instance.h"
#include "OMstring.h"

enum {
  kFormatStrings = 6,                     /* parameters 3 to 8 */
  kFirstFormatField = kCvFieldParam1 + 2, /* parameter 3 */
  kKeywordChars = sizeof CORVANE_VARIANT_KEYWORD - 1,
  kFormatMaximum = kCvFormatStringChars /* characters asked of the host for each format string */
};

static const qchar kNoText[1] = {0};

void ReadFormatStrings(FormatSpec* format, HostCallback cb) {
  qchar* slots[kFormatStrings] = {format->rowPrefix, format->rowSuffix, format->rowDelim,
                                  format->colPrefix, format->colSuffix, format->colDelim};
  for (int i = 0; i < kFormatStrings; ++i) {
    ReadStringParameter((int16_t)(kFirstFormatField + i), slots[i], cb);
    /* Whatever the host wrote into the slot, only the 255 characters asked
     * for count: the joined separators are sized for five of them. */
    slots[i][kFormatMaximum] = 0;
  }
}

void CheckForPrefixSuffixVariants(int32_t which, InstanceBlock* block) {
  FormatSpec* format = &block->format;
  qchar* slot = which != 0 ? format->colPrefix : format->colSuffix;
  int16_t* offsets = format->variantOffsets + (which != 0 ? 0 : kVariantEntries);
  int16_t* lengths = format->variantLengths + (which != 0 ? 0 : kVariantEntries);
  if (OMstrstr(slot, block->variantKeyword) != slot) return;

  int32_t length = OMstrlen(slot);
  int32_t entries = 0;
  int32_t start = kKeywordChars;
  for (int32_t p = kKeywordChars; p < length; ++p) {
    if (slot[p] != ',') continue;
    slot[p] = 0;
    /* A side holds 128 entries; later ones are ignored. */
    if (entries < kVariantEntries) {
      offsets[entries] = (int16_t)start;
      lengths[entries] = (int16_t)(p - start);
    }
    ++entries;
    start = p + 1;
  }
  if (entries < kVariantEntries) {
    offsets[entries] = (int16_t)start;
    lengths[entries] = (int16_t)(length - start);
  }
  ++entries;
  format->variantCount[which != 0 ? 0 : 1] = (int16_t)(entries < kVariantEntries ? entries : kVariantEntries);
  if (which != 0) {
    format->prefixVariant = 1;
  } else {
    format->suffixVariant = 1;
  }
}

void PrepareVariants(InstanceBlock* block) {
  block->format.prefixVariant = 0;
  block->format.suffixVariant = 0;
  block->format.variantCount[0] = 0;
  block->format.variantCount[1] = 0;
  CheckForPrefixSuffixVariants(1, block);
  CheckForPrefixSuffixVariants(0, block);
}

/* A column past the last entry of a list gets no prefix or suffix. */
const qchar* ColumnPrefix(const FormatSpec* format, int32_t k) {
  if (format->prefixVariant == 0) return format->colPrefix;
  if (k < 0 || k >= format->variantCount[0]) return kNoText;
  return format->colPrefix + format->variantOffsets[k];
}

const qchar* ColumnSuffix(const FormatSpec* format, int32_t k) {
  if (format->suffixVariant == 0) return format->colSuffix;
  if (k < 0 || k >= format->variantCount[1]) return kNoText;
  return format->colSuffix + format->variantOffsets[kVariantEntries + k];
}

int32_t ColumnPrefixLength(const FormatSpec* format, int32_t k) {
  if (format->prefixVariant == 0) return OMstrlen(format->colPrefix);
  if (k < 0 || k >= format->variantCount[0]) return 0;
  return format->variantLengths[k];
}

int32_t ColumnSuffixLength(const FormatSpec* format, int32_t k) {
  if (format->suffixVariant == 0) return OMstrlen(format->colSuffix);
  if (k < 0 || k >= format->variantCount[1]) return 0;
  return format->variantLengths[kVariantEntries + k];
}
