/* WorkBuffer.cpp - growing a locked working buffer of the InstanceBlock. */
#include "InstanceBlock.h"
#include "kXPqUtil.h"

int GrowWorkBuffer(WorkBuffer *buffer) {
  UnlockXPHandle(*buffer->handle);
  buffer->start = nullptr;
  int64_t grown = (int64_t)*buffer->size + buffer->step;
  /* Sizes are signed 32-bit: a step past the largest one is refused. */
  if (grown > XP_SIZE_MAX || ResizeXPHandle(buffer->handle, (XPSize)grown) != 0) {
    buffer->start = static_cast<qchar *>(LockXPHandle(*buffer->handle));
    return kGrowRefused;
  }
  *buffer->size = (XPSize)grown;
  buffer->start = static_cast<qchar *>(LockXPHandle(*buffer->handle));
  return buffer->start != nullptr ? kGrowOk : kGrowLost;
}

int EnsureWorkRoom(WorkBuffer *buffer, int64_t chars) {
  while (chars * (int64_t)sizeof(qchar) > *buffer->size) {
    int grown = GrowWorkBuffer(buffer);
    if (grown != kGrowOk) return grown;
  }
  return kGrowOk;
}
