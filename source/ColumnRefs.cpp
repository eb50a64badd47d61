/* ColumnRefs.cpp - a list's column definition resolved into the host's
 * field references of its columns, in definition order. */
#include "CALLBACK.h"
#include "ColumnRefs.h"
#include "kXPqUtil.h"

enum {
  kDefinitionBytes = kCvDefinitionBytes, /* the host writes at most this much, terminator included */
  kMaxColumns = kCvMaxColumns
};

/* Splits the definition in place at each comma and looks every name up,
 * exactly as it stands (blanks and empty names included), gathering the
 * references into refs and their number into *count. */
static ResultCode resolveNames(qchar* definition, int16_t* refs, int16_t* count, HostCallback cb) {
  if (definition[0] == 0) return kCvResultColumns;
  int16_t n = 0;
  qchar* start = definition;
  qchar* cursor = definition;
  for (;;) {
    while (*cursor != ',' && *cursor != 0) ++cursor;
    int atEnd = *cursor == 0;
    *cursor++ = 0;
    int16_t ref = (int16_t)GetFldRef(start, cb);
    if (ref == 0) return kCvResultColumns;
    refs[n++] = ref;
    refs[n] = 0;
    *count = n;
    start = cursor;
    if (atEnd) return kCvResultOk;
    if (n == kMaxColumns) return kCvResultGrowth; /* the 401st name is never looked up */
  }
}

ResultCode GetTheListRefs(int16_t list, int16_t** refs, int16_t* count, HostCallback cb) {
  *refs = nullptr;
  *count = 0;
  qchar* definition = static_cast<qchar*>(NewXPPointer(kDefinitionBytes, kFaultColumnDefinition));
  if (definition == nullptr) return kCvResultResource;
  GetListDef(list, (int16_t)(uint16_t)kDefinitionBytes, definition, cb);
  /* A host that fills the whole buffer leaves no terminator: supply one. */
  definition[kDefinitionBytes / sizeof(qchar) - 1] = 0;

  int16_t gathered[kMaxColumns + 1] = {0};
  int16_t n = 0;
  ResultCode result = resolveNames(definition, gathered, &n, cb);
  DisposeXPPointer(definition);
  if (result != kCvResultOk) return result;
  int16_t* block = static_cast<int16_t*>(NewXPPointer((n + 1) * 2, kFaultColumnReferences));
  if (block == nullptr) return kCvResultResource;
  for (int16_t i = 0; i <= n; ++i) block[i] = gathered[i];
  *refs = block;
  *count = n;
  return kCvResultOk;
}
