/* CALLBACK.cpp - the only code that calls the host.  Each wrapper passes
 * 16-bit values as int (sign-extended) and 32-bit values as int32_t, in the
 * order the host expects, and checks nothing. */
#include "CALLBACK.h"

#include "OMstring.h"
#include "kXPqUtil.h"

int32_t GetFldRef(const qchar* name, HostCallback cb) {
  qchar prefixed[kCvCountedChars + 1];
  sthandle(name, prefixed);
  return cb(kCvOpGetFldRef, prefixed);
}

int32_t GetFldInt(int16_t field, HostCallback cb) {
  double value = 0;
  cb(kCvOpGetFldInt, (int)field, &value);
  /* A value outside the int32 range would be undefined to convert. */
  if (!(value > -2147483649.0 && value < 2147483648.0)) return 0;
  return (int32_t)value;
}

int32_t SetFldVal(int16_t field, int16_t kind, const void* value, HostCallback cb) {
  return cb(kCvOpSetFldVal, (int)field, (int)kind, value);
}

int32_t SetFldInt(int16_t field, int16_t value, HostCallback cb) {
  double number = value;
  return cb(kCvOpSetFldInt, (int)field, &number);
}

int32_t GetFldVal(int16_t field, int16_t kind, int32_t maximum, void* destination, HostCallback cb) {
  return cb(kCvOpGetFldVal, (int)field, (int)kind, maximum, destination);
}

int32_t GetLstVal(int16_t list, int32_t row, int16_t column, int16_t kind, int32_t maximum, void* destination,
                  HostCallback cb) {
  int32_t rowAndMaximum[2] = {row, maximum};
  return cb(kCvOpGetLstVal, (int)list, (int)column, (int)kind, destination, rowAndMaximum);
}

int32_t SetLstVal(int16_t list, int32_t row, int16_t column, int16_t kind, const void* value,
                  HostCallback cb) {
  return cb(kCvOpSetLstVal, (int)list, row, (int)column, (int)kind, value);
}

int DoListOp(int16_t operation, int16_t list, int32_t number, HostCallback cb) {
  return (cb(kCvOpDoListOp, (int)operation, (int)list, number) & 0xFF) != 0;
}

int32_t GetPackageId(HostCallback cb) {
  int32_t id = 0;
  cb(kCvOpGetPackageId, &id);
  return id;
}

void* GetDesignPtr(HostCallback cb) {
  void* record = nullptr;
  cb(kCvOpGetDesignPtr, &record);
  return record;
}

int32_t GetListDef(int16_t list, int16_t maximum, void* destination, HostCallback cb) {
  return cb(kCvOpGetListDef, (int)list, (int)maximum, destination);
}

/* Row 0 of a list holds its line count; the maximum passed with a number. */
enum { kLineCountRow = 0, kNumberMaximum = 10 };

int32_t ListLineCount(int16_t list, int16_t lineCountRef, HostCallback cb) {
  double lines = 0;
  GetLstVal(list, kLineCountRow, lineCountRef, kCvKindDouble, kNumberMaximum, &lines, cb);
  if (!(lines > -2147483649.0 && lines < 2147483648.0)) return 0;
  return (int32_t)lines;
}

void ClearList(int16_t list, HostCallback cb) { DoListOp(kCvListClear, list, 0, cb); }

ResultCode SetListLines(int16_t list, int32_t n, int16_t lineCountRef, HostCallback cb) {
  if (!DoListOp(kCvListSetLines, list, n, cb)) return kCvResultOk;
  return ListLineCount(list, lineCountRef, cb) == n ? kCvResultOk : kCvResultResource;
}

qchar ReadDelimiter(int16_t field, qchar fallback, HostCallback cb) {
  /* The host writes a count and at most 15 characters; room for more. */
  qchar shortString[kCvCountedChars + 1] = {0};
  GetFldVal(field, kCvKindShortString, kCvShortStringChars, shortString, cb);
  return shortString[0] != 0 ? shortString[1] : fallback;
}

void ReadStringParameter(int16_t field, qchar* destination, HostCallback cb) {
  GetFldVal(field, kCvKindString, kCvFormatStringChars, destination, cb);
}

void WriteStringResult(int16_t field, const qchar* text, HostCallback cb) {
  SetFldVal(field, kCvKindString, text, cb);
}

static int32_t readCount(const void* block) {
  const uint8_t* b = static_cast<const uint8_t*>(block);
  uint32_t n = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
  return (int32_t)n;
}

/* How copyHostText ends; CopyHostText turns it into a result code. */
enum { kCopyOk, kCopyEmptyField, kCopyNoMemory, kCopyNothing };

static int copyHostText(int16_t field, int32_t extraChars, int32_t extraBytes, int32_t reserveChars,
                        XPHandle* handle, HostText* out, HostCallback cb) {
  const int32_t unit = (int32_t)sizeof(qchar);
  int32_t length = 0;
  GetFldVal(field, kCvKindLength, (int32_t)sizeof length, &length, cb);
  if (length == 0) return kCopyEmptyField;
  XPSize size = XPByteCount((int64_t)length + extraChars, unit, extraBytes);
  if (length < 0 || size < 0) return kCopyNoMemory;
  *handle = NewXPHandle(size, kFaultTextHandle);
  if (*handle == nullptr) return kCopyNoMemory;

  GetFldVal(field, kCvKindHandle, 0, handle, cb);
  if (*handle == nullptr) return kCopyNoMemory;
  XPSize actual = XPHandleSize(*handle);
  if (actual < kCvHandleCountBytes) return kCopyNoMemory;
  void* block = LockXPHandle(*handle, kFaultTextHandleLock);
  if (block == nullptr) return kCopyNoMemory;
  int32_t count = readCount(block);
  if (count == 0) {
    UnlockXPHandle(*handle);
    return kCopyNothing;
  }
  XPSize needed = XPByteCount(count, unit, kCvHandleCountBytes);
  XPSize wanted = XPByteCount((int64_t)count + reserveChars, unit, kCvHandleCountBytes);
  if (count < 0 || needed < 0 || needed > actual || wanted < 0) {
    UnlockXPHandle(*handle);
    return kCopyNoMemory;
  }
  if (wanted > actual) {
    UnlockXPHandle(*handle);
    if (ResizeXPHandle(handle, wanted, kFaultTextHandleGrowth) != 0) return kCopyNoMemory;
    block = LockXPHandle(*handle, kFaultTextHandleGrowthLock);
    if (block == nullptr) return kCopyNoMemory;
  }
  out->count = count;
  out->text = reinterpret_cast<qchar*>(static_cast<uint8_t*>(block) + kCvHandleCountBytes);
  return kCopyOk;
}

ResultCode CopyHostText(int16_t field, int32_t extraChars, int32_t extraBytes, int32_t reserveChars,
                        XPHandle* handle, HostText* out, HostCallback cb) {
  out->count = 0;
  out->text = nullptr;
  switch (copyHostText(field, extraChars, extraBytes, reserveChars, handle, out, cb)) {
    case kCopyEmptyField:
      return kCvResultBadParams;
    case kCopyNoMemory:
      return kCvResultResource;
    default:
      return kCvResultOk; /* delivered, or nothing delivered: count 0 */
  }
}
