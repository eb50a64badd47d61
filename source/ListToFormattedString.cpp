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

typedef struct Renderer {
  CommandCall* call;
  const FormatSpec* format;
  WorkBuffer buffer;
  int32_t used; /* characters written */
} Renderer;

static void append(Renderer* r, const qchar* text) { r->used += OMappend(r->buffer.start + r->used, text); }

/* One column of one row; then the growth check.  kCvResultGrowth when the
 * buffer could not grow. */
static ResultCode renderCell(Renderer* r, int32_t row, int32_t k, int16_t ref, int last) {
  /* The Unicode build's 64,000-byte margin is less than a cell: make room
   * before writing.  The 8-bit build's margin always covers it. */
  ResultCode result = EnsureWorkRoom(&r->buffer, (int64_t)r->used + kColumnRoom);
  if (result != kCvResultOk) return result;
  append(r, ColumnPrefix(r->format, k));
  qchar* cell = r->buffer.start + r->used;
  cell[0] = 0;
  GetLstVal(kListField, row, ref, kCvKindString, kCellMaximum, cell, r->call->cb);
  r->used += OMstrnlen(cell, kCellMaximum);
  append(r, ColumnSuffix(r->format, k));
  if (!last) append(r, r->format->colDelim);
  r->buffer.start[r->used] = 0;
  if ((int64_t)r->used * (int64_t)sizeof(qchar) > *r->buffer.size - kBigMargin)
    return GrowWorkBuffer(&r->buffer);
  return kCvResultOk;
}

static ResultCode renderRows(Renderer* r, int32_t rows, const int16_t* refs, int32_t columns) {
  for (int32_t row = 1; row <= rows; ++row) {
    append(r, r->format->rowPrefix);
    for (int32_t k = 0; k < columns; ++k) {
      ResultCode result = renderCell(r, row, k, refs[k], k + 1 == columns);
      if (result != kCvResultOk) return result;
    }
    append(r, r->format->rowSuffix);
    if (row < rows) append(r, r->format->rowDelim);
  }
  r->buffer.start[r->used] = 0;
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

  Renderer r = {
      call, &block->format, {&block->bigBuffer, &block->bigSize, kBigGrowth, nullptr, kFaultBigGrowth}, 0};
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
