/* ListToFormattedString.cpp - a list rendered into one text framed by the
 * six format strings, built in the BigBuffer and stored into a field. */
#include "CALLBACK.h"
#include "ColumnRefs.h"
#include "CommandCall.h"
#include "FormatStrings.h"
#include "OMstring.h"
#include "kXPqUtil.h"

enum {
  kListField = kCvFieldParam1,
  kStringField = kCvFieldParam1 + 1,
  kCellMaximum = kCvFormattedCellChars,
  /* The most written between two checks: a prefix, a cell and its
   * terminator, a suffix, colDelim, rowSuffix, rowDelim, the next rowPrefix
   * (each at most 255 characters) and a terminator. */
  kColumnRoom = kCellMaximum + 1 + 6 * kCvFormatStringChars + 1
};

/* A format string and its length. */
typedef struct Piece {
  const qchar* text;
  int32_t length;
} Piece;

typedef struct Renderer {
  CommandCall* call;
  const FormatSpec* format;
  WorkBuffer buffer;
  int32_t used; /* characters written */
  /* The format strings, measured once; a variant list's entries are
   * measured as they are written. */
  Piece rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim;
} Renderer;

static Piece makePiece(const qchar* text) {
  Piece piece = {text, OMstrlen(text)};
  return piece;
}

static Piece prefixOf(const Renderer* r, int32_t k) {
  if (!r->format->prefixVariant) return r->colPrefix;
  Piece piece = {ColumnPrefix(r->format, k), ColumnPrefixLength(r->format, k)};
  return piece;
}

static Piece suffixOf(const Renderer* r, int32_t k) {
  if (!r->format->suffixVariant) return r->colSuffix;
  Piece piece = {ColumnSuffix(r->format, k), ColumnSuffixLength(r->format, k)};
  return piece;
}

/* Writes a piece at `at`; returns the position behind it. */
static int32_t put(Renderer* r, int32_t at, Piece piece) {
  OMcopy(r->buffer.start + at, piece.text, piece.length);
  return at + piece.length;
}

/* Every row.  The text up to `used` is what has been rendered; the prefix
 * of the next column may already stand behind it (`pending` characters) and
 * counts only once that column is rendered, so a growth refused before it
 * delivers the same text as one refused after the column before.
 * kCvResultGrowth when the buffer could not grow. */
static ResultCode renderRows(Renderer* r, int32_t rows, const int16_t* refs, int32_t columns) {
  int32_t used = r->used;
  int32_t pending = 0;
  for (int32_t row = 1; row <= rows; ++row) {
    used = put(r, used, r->rowPrefix);
    pending = put(r, used, prefixOf(r, 0)) - used;
    for (int32_t k = 0; k < columns; ++k) {
      /* The Unicode build's 64,000-byte margin is less than a cell: make
       * room before writing.  The 8-bit build's margin always covers it. */
      if (((int64_t)used + kColumnRoom) * (int64_t)sizeof(qchar) > *r->buffer.size) {
        r->used = used;
        ResultCode result = EnsureWorkRoom(&r->buffer, (int64_t)used + kColumnRoom);
        if (result != kCvResultOk) return result;
      }
      used += pending;
      qchar* cell = r->buffer.start + used;
      cell[0] = 0;
      GetLstVal(kListField, row, refs[k], kCvKindString, kCellMaximum, cell, r->call->cb);
      used += OMstrnlen(cell, kCellMaximum);
      used = put(r, used, suffixOf(r, k));
      if (k + 1 < columns) {
        used = put(r, used, r->colDelim);
        pending = put(r, used, prefixOf(r, k + 1)) - used;
      }
      r->used = used;
      if ((int64_t)used * (int64_t)sizeof(qchar) > *r->buffer.size - kBigMargin) {
        ResultCode result = GrowWorkBuffer(&r->buffer);
        if (result != kCvResultOk) return result;
      }
    }
    used = put(r, used, r->rowSuffix);
    if (row < rows) used = put(r, used, r->rowDelim);
  }
  r->used = used;
  r->buffer.start[used] = 0;
  return kCvResultOk;
}

void ListToFormattedString(CommandCall* call) {
  InstanceBlock* block = call->block;
  HostCallback cb = call->cb;
  if (call->paramCount < kCvFormattedParamsMin) {
    call->result = kCvResultBadParams;
    return;
  }
  const qchar empty[1] = {0};
  WriteStringResult(kStringField, empty, cb);
  int32_t rows = ListLineCount(kListField, block->lineCountRef, cb);
  ReadFormatStrings(&block->format, cb);
  if (OMstrcmp(block->format.rowDelim, block->format.colDelim) == 0) {
    call->result = kCvResultBadParams;
    return;
  }
  PrepareVariants(block);
  int16_t columns = 0;
  call->result = GetTheListRefs(kListField, &call->columnRefs, &columns, cb);
  if (call->result != kCvResultOk) return;

  const FormatSpec* f = &block->format;
  Renderer r = {call,
                f,
                {&block->bigBuffer, &block->bigSize, kBigGrowth, nullptr, kFaultBigGrowth},
                0,
                makePiece(f->rowPrefix),
                makePiece(f->rowSuffix),
                makePiece(f->rowDelim),
                makePiece(f->colPrefix),
                makePiece(f->colSuffix),
                makePiece(f->colDelim)};
  r.buffer.start = static_cast<qchar*>(LockXPHandle(block->bigBuffer, kFaultBigLock));
  if (r.buffer.start == nullptr) {
    call->result = kCvResultResource;
    return;
  }
  r.buffer.start[0] = 0;
  call->result = renderRows(&r, rows, call->columnRefs, columns);
  /* After a refused growth the text built so far is delivered from the old
   * block locked again; when no block could be locked, the field stays empty. */
  if (r.buffer.start != nullptr) {
    r.buffer.start[r.used] = 0; /* rowSuffix, rowDelim and rowPrefix end unterminated */
    WriteStringResult(kStringField, r.buffer.start, cb);
    UnlockXPHandle(block->bigBuffer);
  }
}
