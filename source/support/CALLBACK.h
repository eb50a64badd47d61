/* CALLBACK.h - one wrapper per host operation, the callback always last,
 * and the ways the commands use them. */
#ifndef CORVANE_CALLBACK_H
#define CORVANE_CALLBACK_H

#include <stdint.h>

#include "corvane/CorvaneAbi.h"
#include "qchar.h"

int32_t GetFldRef(const qchar* name, HostCallback cb);
int32_t GetFldInt(int16_t field, HostCallback cb);
int32_t SetFldVal(int16_t field, int16_t kind, const void* value, HostCallback cb);
int32_t SetFldInt(int16_t field, int16_t value, HostCallback cb);
int32_t GetFldVal(int16_t field, int16_t kind, int32_t maximum, void* destination, HostCallback cb);
int32_t GetLstVal(int16_t list, int32_t row, int16_t column, int16_t kind, int32_t maximum, void* destination,
                  HostCallback cb);
int32_t SetLstVal(int16_t list, int32_t row, int16_t column, int16_t kind, const void* value,
                  HostCallback cb);
int DoListOp(int16_t operation, int16_t list, int32_t number, HostCallback cb);
int32_t GetPackageId(HostCallback cb);
void* GetDesignPtr(HostCallback cb);
int32_t GetListDef(int16_t list, int16_t maximum, void* destination, HostCallback cb);

/* The idioms. */
int32_t ListLineCount(int16_t list, int16_t lineCountRef, HostCallback cb);
void ClearList(int16_t list, HostCallback cb);
/* kCvResultOk when the host set n lines or could not say; kCvResultResource
 * when it reports a different count. */
ResultCode SetListLines(int16_t list, int32_t n, int16_t lineCountRef, HostCallback cb);
/* The first character of the parameter, or `fallback` when it is empty. */
qchar ReadDelimiter(int16_t field, qchar fallback, HostCallback cb);
void ReadStringParameter(int16_t field, qchar* destination, HostCallback cb);
void WriteStringResult(int16_t field, const qchar* text, HostCallback cb);

/* The whole text of a string field, copied by the host into a movable block
 * that the caller owns (handle) and must free whatever the outcome. */
typedef struct HostText {
  int32_t count; /* the characters delivered */
  qchar* text;   /* the first character, while the block is locked */
} HostText;

/* Asks for the length T, allocates T + extraChars characters plus extraBytes
 * into *handle, has the host deliver the text (the host may grow or replace
 * the block) and locks it.  The delivered characters are trusted only as far
 * as the block really holds them; when reserveChars is not 0 the block is
 * grown if needed so that that many characters fit behind the text.
 * kCvResultOk with out->count > 0: the block is locked and out->text valid.
 * kCvResultOk with out->count 0: the host delivered no characters; nothing
 * is locked and the command ends with that result.  kCvResultBadParams: the
 * announced length is 0.  kCvResultResource: no block, none back from the
 * host, or no lock.  The caller frees *handle whatever the result, after
 * unlocking when out->count > 0. */
ResultCode CopyHostText(int16_t field, int32_t extraChars, int32_t extraBytes, int32_t reserveChars,
                        XPHandle* handle, HostText* out, HostCallback cb);

#endif
