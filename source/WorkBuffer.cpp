/* WorkBuffer.cpp - growing a locked working buffer of the InstanceBlock.
 *
 * A buffer grows by half its size (never by less than its step), so that a
 * text of n bytes costs O(n) bytes of copying in all: a movable block that
 * is reallocated on Windows is copied every time, and growing a 44 MB text
 * 32,000 bytes at a time there copies gigabytes.  When the larger block
 * cannot be had the buffer still grows by its step, so growth is refused
 * only where the step itself is. */
#include "Instance.h"
#include "kXPqUtil.h"

/* size + by, at most the largest block. */
static XPSize grownBy(XPSize size, int64_t by) {
  int64_t grown = (int64_t)size + by;
  return grown > XP_HANDLE_SIZE_MAX ? XP_HANDLE_SIZE_MAX : (XPSize)grown;
}

/* Resizes to half as large again, or else to one step more, with the new
 * size in *size; kCvResultGrowth when neither can be had. */
static ResultCode resizeWorkBlock(WorkBuffer* buffer, XPSize* size) {
  XPSize now = *buffer->size;
  XPSize stepped = grownBy(now, buffer->step);
  XPSize larger = grownBy(now, now / 2 > buffer->step ? now / 2 : buffer->step);
  if (stepped <= now) return kCvResultGrowth; /* already the largest block */
  if (ResizeXPHandle(buffer->handle, larger, buffer->growthSite) == 0) {
    *size = larger;
    return kCvResultOk;
  }
  if (larger == stepped ||
      ResizeXPHandle(buffer->handle, stepped, XPGrowthSite(buffer->growthSite, kGrowthSiteStep)) != 0)
    return kCvResultGrowth;
  *size = stepped;
  return kCvResultOk;
}

ResultCode GrowWorkBuffer(WorkBuffer* buffer) {
  UnlockXPHandle(*buffer->handle);
  buffer->start = nullptr;
  XPSize grown = 0;
  if (resizeWorkBlock(buffer, &grown) != kCvResultOk) {
    buffer->start =
        static_cast<qchar*>(LockXPHandle(*buffer->handle, XPGrowthSite(buffer->growthSite, kGrowthSiteLock)));
    return kCvResultGrowth;
  }
  *buffer->size = grown;
  buffer->start =
      static_cast<qchar*>(LockXPHandle(*buffer->handle, XPGrowthSite(buffer->growthSite, kGrowthSiteLock)));
  return buffer->start != nullptr ? kCvResultOk : kCvResultGrowth;
}

ResultCode EnsureWorkRoom(WorkBuffer* buffer, int64_t chars) {
  while (chars * (int64_t)sizeof(qchar) > *buffer->size) {
    ResultCode result = GrowWorkBuffer(buffer);
    if (result != kCvResultOk) return result;
  }
  return kCvResultOk;
}
