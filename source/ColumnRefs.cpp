/* ColumnRefs.cpp - a list's column definition resolved into the host's
 * field references of its columns, in definition order. */
#include "CALLBACK.h"
#include "InstanceBlock.h"
#include "kXPqUtil.h"

enum {
  kDefinitionBytes = 64000, /* the host writes at most this much, terminator included */
  kMaxColumns = 400,
  kTooManyColumns = -1,
  kNoMemory = -2,
  kUnknownColumn = -3
};

/* Splits the definition in place at each comma and looks every name up,
 * exactly as it stands (blanks and empty names included).  Returns the
 * number of references gathered or an error value. */
static int16_t resolveNames(qchar* definition, int16_t* refs, HostCallback cb) {
  if (definition[0] == 0) return kUnknownColumn;
  int16_t n = 0;
  qchar* start = definition;
  qchar* cursor = definition;
  for (;;) {
    while (*cursor != ',' && *cursor != 0) ++cursor;
    int atEnd = *cursor == 0;
    *cursor++ = 0;
    int16_t ref = (int16_t)GetFldRef(start, cb);
    if (ref == 0) return kUnknownColumn;
    refs[n++] = ref;
    refs[n] = 0;
    start = cursor;
    if (atEnd) return n;
    if (n == kMaxColumns) return kTooManyColumns; /* the 401st name is never looked up */
  }
}

int16_t* GetTheListRefs(int16_t list, int16_t* count, HostCallback cb) {
  *count = 0;
  qchar* definition = static_cast<qchar*>(NewXPPointer(kDefinitionBytes, kFaultColumnDefinition));
  if (definition == nullptr) {
    *count = kNoMemory;
    return nullptr;
  }
  GetListDef(list, (int16_t)(uint16_t)kDefinitionBytes, definition, cb);
  /* A host that fills the whole buffer leaves no terminator: supply one. */
  definition[kDefinitionBytes / sizeof(qchar) - 1] = 0;

  int16_t refs[kMaxColumns + 1] = {0};
  int16_t n = resolveNames(definition, refs, cb);
  DisposeXPPointer(definition);
  if (n < 0) {
    *count = n;
    return nullptr;
  }
  int16_t* block = static_cast<int16_t*>(NewXPPointer((n + 1) * 2, kFaultColumnReferences));
  if (block == nullptr) {
    *count = kNoMemory;
    return nullptr;
  }
  for (int16_t i = 0; i <= n; ++i) block[i] = refs[i];
  *count = n;
  return block;
}

int16_t ColumnRefsResult(int16_t count) {
  switch (count) {
    case kUnknownColumn:
      return kCvResultColumns;
    case kNoMemory:
      return kCvResultResource;
    case kTooManyColumns:
      return kCvResultGrowth;
    default:
      return kCvResultBadParams;
  }
}
