/* ListToString.cpp - every cell of a list, row by row, each followed by one
 * delimiter character, built in the ScratchBuffer and stored into a field. */
#include "CALLBACK.h"
#include "ColumnRefs.h"
#include "CommandCall.h"
#include "OMstring.h"
#include "kXPqUtil.h"

enum {
  kListField = kCvFieldParam1,
  kStringField = kCvFieldParam1 + 1,
  kDelimField = kCvFieldParam1 + 2,
  kDelimParams = 3, /* parameters that include the delimiter */
  kCellMaximum = kCvListCellChars,
  kCellRoom = kCellMaximum + 2 /* the cell, its delimiter, the terminator */
};

/* Reads the cells into the buffer.  kCvResultGrowth when the buffer could
 * not grow; buffer->start is then the old block locked again, or null. */
static ResultCode appendCells(CommandCall* call, WorkBuffer* buffer, const int16_t* refs, int32_t lines,
                              qchar delimiter) {
  int32_t used = 0;
  buffer->start[0] = 0;
  for (int32_t row = 1; row <= lines; ++row) {
    for (const int16_t* ref = refs; *ref != 0; ++ref) {
      /* A 255-character cell takes 1,028 bytes in the Unicode build, more
       * than the margin below: make room for a whole one first. */
      if (((int64_t)used + kCellRoom) * (int64_t)sizeof(qchar) > *buffer->size) {
        ResultCode result = EnsureWorkRoom(buffer, (int64_t)used + kCellRoom);
        if (result != kCvResultOk) return result;
      }
      qchar* cell = buffer->start + used;
      cell[0] = 0;
      GetLstVal(kListField, row, *ref, kCvKindString, kCellMaximum, cell, call->cb);
      used += OMstrnlen(cell, kCellMaximum);
      buffer->start[used++] = delimiter;
      buffer->start[used] = 0;
      if ((int64_t)used * (int64_t)sizeof(qchar) > *buffer->size - kScratchMargin) {
        ResultCode result = GrowWorkBuffer(buffer);
        if (result != kCvResultOk) return result;
      }
    }
  }
  return kCvResultOk;
}

void ListToString(CommandCall* call) {
  InstanceBlock* block = call->block;
  HostCallback cb = call->cb;
  if (block->scratchBuffer == nullptr || block->scratchSize == 0) {
    call->result = kCvResultResource;
    return;
  }
  if (call->paramCount < kCvListParamsMin) {
    call->result = kCvResultBadParams;
    return;
  }
  qchar delimiter = kCvDefaultDelimiter;
  if (call->paramCount >= kDelimParams) delimiter = ReadDelimiter(kDelimField, delimiter, cb);

  const qchar empty[1] = {0};
  WriteStringResult(kStringField, empty, cb);
  int32_t lines = ListLineCount(kListField, block->lineCountRef, cb);
  int16_t columns = 0;
  call->result = GetTheListRefs(kListField, &call->columnRefs, &columns, cb);
  if (call->result != kCvResultOk) return;

  WorkBuffer buffer = {&block->scratchBuffer, &block->scratchSize, kScratchGrowth, nullptr,
                       kFaultScratchGrowth};
  buffer.start = static_cast<qchar*>(LockXPHandle(block->scratchBuffer, kFaultScratchLock));
  if (buffer.start == nullptr) {
    call->result = kCvResultResource;
    return;
  }
  call->result = appendCells(call, &buffer, call->columnRefs, lines, delimiter);
  /* After a refused resize the text so far is still delivered, from the old
   * block locked again; a block that could not be locked again gives nothing. */
  if (buffer.start != nullptr) {
    WriteStringResult(kStringField, buffer.start, cb);
    UnlockXPHandle(block->scratchBuffer);
  }
}
