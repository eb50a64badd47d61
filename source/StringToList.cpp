/* StringToList.cpp - a text in which every cell is followed by a delimiter
 * character, split in place into the lines of a list. */
#include "CALLBACK.h"
#include "ColumnRefs.h"
#include "CommandCall.h"
#include "kXPqUtil.h"

enum {
  kStringField = kCvFieldParam1,
  kListField = kCvFieldParam1 + 1,
  kDelimField = kCvFieldParam1 + 2,
  kDelimParams = 3 /* parameters that include the delimiter */
};

static int32_t countDelimiters(const qchar* text, int32_t count, qchar delimiter) {
  int32_t found = 0;
  for (int32_t i = 0; i < count; ++i) found += text[i] == delimiter;
  return found;
}

/* Stores the first rows x columns cells; the delimiters become terminators. */
static void storeCells(CommandCall* call, qchar* text, int32_t rows, qchar delimiter) {
  qchar* cursor = text;
  for (int32_t line = 1; line <= rows; ++line) {
    for (const int16_t* ref = call->columnRefs; *ref != 0; ++ref) {
      qchar* cell = cursor;
      while (*cursor != delimiter) ++cursor; /* rows x columns delimiters exist */
      *cursor++ = 0;
      SetLstVal(kListField, line, *ref, kCvKindString, cell, call->cb);
    }
  }
}

void StringToList(CommandCall* call) {
  HostCallback cb = call->cb;
  if (call->paramCount < kCvListParamsMin) {
    call->result = kCvResultBadParams;
    return;
  }
  qchar delimiter = kCvDefaultDelimiter;
  if (call->paramCount >= kDelimParams) delimiter = ReadDelimiter(kDelimField, delimiter, cb);
  ClearList(kListField, cb);
  int16_t columns = 0;
  call->result = GetTheListRefs(kListField, &call->columnRefs, &columns, cb);
  if (call->result != kCvResultOk) return;

  HostText text = {0, nullptr};
  call->result = CopyHostText(kStringField, 0, 0, 0, &call->stringHandle, &text, cb);
  if (call->result != kCvResultOk || text.count == 0) return;
  int32_t rows = countDelimiters(text.text, text.count, delimiter) / columns;
  call->result = SetListLines(kListField, rows, call->block->lineCountRef, cb);
  if (call->result == kCvResultOk) storeCells(call, text.text, rows, delimiter);
  UnlockXPHandle(call->stringHandle);
}
