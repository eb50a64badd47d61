/* FormattedStringToList.cpp - a text framed by the six format strings,
 * parsed back into the lines of a list.
 *
 * The text is copied once into the string handle and split in place: the
 * first character of each separator that ends a cell becomes a terminator
 * and the host receives the cell straight from the block.  Every decision is
 * a search for a separator from the current position; the searchers of
 * TextSearch make all of them together linear in the text. */
#include <string.h>

#include "CALLBACK.h"
#include "ColumnRefs.h"
#include "CommandCall.h"
#include "FormatStrings.h"
#include "OMstring.h"
#include "TextSearch.h"
#include "kXPqUtil.h"

enum {
  kStringField = kCvFieldParam1,
  kListField = kCvFieldParam1 + 1,
  /* Characters the string handle has room for past the text and the last
   * column's suffix, rowSuffix and rowDelim. */
  kTextSpareChars = 10,
  /* Behind the delivered text: a rowDelim appended, its terminator and one
   * spare character. */
  kTextReserveChars = 2
};

static const qchar kNoText[1] = {0};

/* The separators of one run and what has been found of them so far. */
typedef struct Separators {
  TextSearcher rowSep, cellSep, rowEnd, lastSuffix, colPrefix;
  int32_t borders[5][kJoinedSlotChars + 1];
  /* With a variant list: one separator per column. */
  TextSearcher* columnSep; /* columns - 1 entries */
  int flagged;
  /* The prefix step compares in place, which costs no more than the
   * separator just passed: it ends with that prefix.  Only a suffix list
   * with a fixed colPrefix leaves the prefix out of the column separators;
   * there the step searches, so that a long colPrefix that nearly matches
   * at every cell is not compared again and again. */
  int searchPrefix;
} Separators;

static int startsWith(const qchar* text, const qchar* with, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    if (text[i] != with[i]) return 0; /* the terminator never matches */
  return 1;
}

static void buildDerivedStrings(FormatSpec* f, int32_t columns) {
  const qchar* firstPrefix = ColumnPrefix(f, 0);
  const qchar* lastSuffix = ColumnSuffix(f, columns - 1);
  OMstrcpy(f->cellSep, f->colSuffix);
  OMstrcat(f->cellSep, f->colDelim);
  OMstrcat(f->cellSep, f->colPrefix);
  OMstrcpy(f->rowEnd, lastSuffix);
  OMstrcat(f->rowEnd, f->rowSuffix);
  OMstrcat(f->rowEnd, f->rowDelim);
  OMstrcpy(f->rowStart, f->rowPrefix);
  OMstrcat(f->rowStart, firstPrefix);
  OMstrcpy(f->rowSep, f->rowEnd);
  OMstrcat(f->rowSep, f->rowStart);
}

/* The separator between column i and i + 1 while a variant list is in
 * force: the suffix of i, colDelim, and with a prefix list the prefix of
 * i + 1. */
static int32_t columnSeparatorLength(const FormatSpec* f, int32_t i) {
  int32_t length = OMstrlen(ColumnSuffix(f, i)) + OMstrlen(f->colDelim);
  if (f->prefixVariant) length += OMstrlen(ColumnPrefix(f, i + 1));
  return length;
}

/* Lays out the per-column searchers, their patterns and border arrays in
 * one block, which the entry point frees. */
static ResultCode prepareColumnSearchers(CommandCall* call, Separators* s, int32_t columns) {
  const FormatSpec* f = &call->block->format;
  int32_t searchers = columns - 1;
  int64_t patternChars = 0, borderEntries = 0;
  for (int32_t i = 0; i + 1 < columns; ++i) {
    int32_t length = columnSeparatorLength(f, i);
    patternChars += length + 1;
    borderEntries += length + 1;
  }
  int64_t bytes = searchers * (int64_t)sizeof(TextSearcher) + borderEntries * (int64_t)sizeof(int32_t) +
                  patternChars * (int64_t)sizeof(qchar);
  if (bytes > XP_SIZE_MAX) return kCvResultResource;
  uint8_t* space = static_cast<uint8_t*>(NewXPPointer((XPSize)bytes, kFaultColumnSearchers));
  if (space == nullptr) return kCvResultResource;
  call->workspace = space;

  TextSearcher* searcher = reinterpret_cast<TextSearcher*>(space);
  int32_t* border = reinterpret_cast<int32_t*>(searcher + searchers);
  qchar* pattern = reinterpret_cast<qchar*>(border + borderEntries);
  s->columnSep = searcher;
  for (int32_t i = 0; i + 1 < columns; ++i) {
    OMstrcpy(pattern, ColumnSuffix(f, i));
    OMstrcat(pattern, f->colDelim);
    if (f->prefixVariant) OMstrcat(pattern, ColumnPrefix(f, i + 1));
    int32_t length = OMstrlen(pattern);
    SearcherInit(searcher++, pattern, length, border);
    pattern += length + 1;
    border += length + 1;
  }
  return kCvResultOk;
}

static void initSearchers(Separators* s, const FormatSpec* f, int32_t columns) {
  const qchar* lastSuffix = ColumnSuffix(f, columns - 1);
  SearcherInit(&s->rowSep, f->rowSep, OMstrlen(f->rowSep), s->borders[0]);
  SearcherInit(&s->cellSep, f->cellSep, OMstrlen(f->cellSep), s->borders[1]);
  SearcherInit(&s->rowEnd, f->rowEnd, OMstrlen(f->rowEnd), s->borders[2]);
  SearcherInit(&s->lastSuffix, lastSuffix, OMstrlen(lastSuffix), s->borders[3]);
  SearcherInit(&s->colPrefix, f->colPrefix, OMstrlen(f->colPrefix), s->borders[4]);
  s->columnSep = nullptr;
  s->flagged = f->prefixVariant || f->suffixVariant;
  s->searchPrefix = f->suffixVariant && !f->prefixVariant;
}

/* Rows: the occurrences of rowSep, which do not overlap, plus the last row
 * when it ends with rowEnd rather than a whole rowSep. */
static int32_t countRows(Separators* s, const qchar* text, int32_t from, int32_t textEnd,
                         int32_t rowEndLength) {
  int32_t at = SearchFrom(&s->rowSep, text, from, textEnd);
  if (at < 0) return 1;
  int32_t rows = 0;
  while (at >= 0) {
    ++rows;
    at = SearchFrom(&s->rowSep, text, at + s->rowSep.length, textEnd);
  }
  if (s->rowSep.length != rowEndLength) ++rows;
  SearcherReset(&s->rowSep);
  return rows;
}

/* Where the cell that starts at p ends, and how far past that end the next
 * cell starts. */
static int32_t findCellEnd(Separators* s, const qchar* text, int32_t p, int last, int lastRow, int32_t i,
                           int32_t textEnd, int32_t* step) {
  int32_t end;
  if (last) {
    *step = s->rowSep.length;
    end = SearchFrom(&s->rowSep, text, p, textEnd);
    if (end < 0 && lastRow) {
      end = SearchFrom(&s->rowEnd, text, p, textEnd);
      if (end < 0) end = SearchFrom(&s->lastSuffix, text, p, textEnd);
    }
  } else {
    TextSearcher* sep = s->flagged ? &s->columnSep[i] : &s->cellSep;
    *step = sep->length;
    end = SearchFrom(sep, text, p, textEnd);
  }
  if (end < 0) end = SearchFrom(&s->rowSep, text, p, textEnd);
  return end < 0 ? textEnd : end;
}

static void storeCells(CommandCall* call, Separators* s, qchar* text, int32_t textEnd, int32_t rows,
                       int32_t columns, int32_t from) {
  const FormatSpec* f = &call->block->format;
  int hasPrefix = f->colPrefix[0] != 0;
  /* Without a prefix list every column has the same prefix. */
  const qchar* fixedPrefix = f->prefixVariant ? nullptr : f->colPrefix;
  int32_t fixedLength = OMstrlen(f->colPrefix);
  int32_t p = from;
  for (int32_t row = 1; row <= rows; ++row) {
    for (int32_t i = 0; i < columns; ++i) {
      int16_t ref = call->columnRefs[i];
      /* Text that runs out before every cell is read leaves the rest empty. */
      if (p > textEnd) {
        SetLstVal(kListField, row, ref, kCvKindString, kNoText, call->cb);
        continue;
      }
      if (hasPrefix) {
        const qchar* prefix = fixedPrefix != nullptr ? fixedPrefix : ColumnPrefix(f, i);
        int32_t length = fixedPrefix != nullptr ? fixedLength : ColumnPrefixLength(f, i);
        if (s->searchPrefix ? SearchFrom(&s->colPrefix, text, p, textEnd) == p
                            : startsWith(text + p, prefix, length))
          p += length;
      }
      int32_t step = 0;
      int32_t end = findCellEnd(s, text, p, i + 1 == columns, row == rows, i, textEnd, &step);
      text[end] = 0;
      SetLstVal(kListField, row, ref, kCvKindString, text + p, call->cb);
      p = end + step;
    }
  }
}

/* Everything after the text has been delivered and locked. */
static void parseText(CommandCall* call, qchar* text, int32_t count, int32_t columns) {
  FormatSpec* f = &call->block->format;
  int32_t rowDelimLength = OMstrlen(f->rowDelim);
  int32_t textEnd = count;
  text[textEnd] = 0;
  if (count < rowDelimLength || !startsWith(text + count - rowDelimLength, f->rowDelim, rowDelimLength)) {
    OMstrcpy(text + textEnd, f->rowDelim);
    textEnd += rowDelimLength;
  }
  int32_t rowStartLength = OMstrlen(f->rowStart);
  if (!startsWith(text, f->rowStart, rowStartLength)) {
    call->result = kCvResultBadParams;
    return;
  }

  /* The five fixed searchers live on the stack; the column separators of a
   * variant list, up to 399 of them, in the workspace. */
  static_assert(sizeof(Separators) < 64 * 1024, "the fixed searchers must stay small");
  Separators s;
  initSearchers(&s, f, columns);
  if (s.flagged) {
    call->result = prepareColumnSearchers(call, &s, columns);
    if (call->result != kCvResultOk) return;
  }
  int32_t rows = countRows(&s, text, rowStartLength, textEnd, OMstrlen(f->rowEnd));
  call->result = SetListLines(kListField, rows, call->block->lineCountRef, call->cb);
  if (call->result != kCvResultOk) return;
  storeCells(call, &s, text, textEnd, rows, columns, rowStartLength);
}

void FormattedStringToList(CommandCall* call) {
  InstanceBlock* block = call->block;
  FormatSpec* f = &block->format;
  HostCallback cb = call->cb;
  if (call->paramCount < kCvFormattedParamsMin) {
    call->result = kCvResultBadParams;
    return;
  }
  int16_t columns = 0;
  call->result = GetTheListRefs(kListField, &call->columnRefs, &columns, cb);
  if (call->result != kCvResultOk) return;
  ReadFormatStrings(f, cb);
  PrepareVariants(block);
  if (f->rowDelim[0] == 0 || f->colDelim[0] == 0) {
    call->result = kCvResultBadParams;
    return;
  }
  buildDerivedStrings(f, columns);
  ClearList(kListField, cb);

  int32_t rowDelimLength = OMstrlen(f->rowDelim);
  int32_t extra =
      OMstrlen(ColumnSuffix(f, columns - 1)) + OMstrlen(f->rowSuffix) + rowDelimLength + kTextSpareChars;
  HostText text = {0, nullptr};
  call->result = CopyHostText(kStringField, extra, kCvHandleCountBytes, rowDelimLength + kTextReserveChars,
                              &call->stringHandle, &text, cb);
  if (call->result != kCvResultOk || text.count == 0) return;
  parseText(call, text.text, text.count, columns);
  UnlockXPHandle(call->stringHandle);
}
