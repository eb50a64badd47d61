/* extutils.cpp - loading the string resources that declare the commands.
 *
 * On Windows they are the module's string table.  Elsewhere the same texts
 * travel in a section of the shared object, where a host reads them from the
 * file before it loads it, and where this module finds them again. */
#include "extutils.h"

#include "corvane/CorvaneAbi.h"
#include "CorvaneTexts.h"
#include "OMstring.h"
#include "kXPqUtil.h"

#if defined(_WIN32)
#include <windows.h>
#endif

void* hInstLib = nullptr;

#if defined(_WIN32)

oschar* GetResourceOstr(oschar* destination, int32_t capacity, int32_t base, int32_t offset, void* module) {
#ifdef CORVANE_UNICODE
  int loaded = LoadStringW(static_cast<HINSTANCE>(module), (UINT)(base + offset),
                           reinterpret_cast<LPWSTR>(destination), capacity);
#else
  int loaded = LoadStringA(static_cast<HINSTANCE>(module), (UINT)(base + offset), destination, capacity);
#endif
  if (loaded <= 0 && capacity > 0) destination[0] = 0;
  return destination;
}

#else

#define CORVANE_Q7INF_BYTES                                                                              \
  {                                                                                                      \
    (uint8_t) CORVANE_TAG[0], (uint8_t)CORVANE_TAG[1], (uint8_t)CORVANE_TAG[2], (uint8_t)CORVANE_TAG[3], \
        kCvFirstDeclaration & 0xFF, kCvFirstDeclaration >> 8, 0, 0, 0, 0, 0, 0, 0, 0                     \
  }

/* The resources of this build, in the file where a host looks for them. */
__attribute__((section(CORVANE_RESOURCE_SECTION), used)) const CorvaneResourceImage corvaneResources = {
    CORVANE_RESOURCE_MAGIC,
    CORVANE_Q7INF_BYTES,
    {0, 0},
    {CORVANE_VERSION_NUMBERS},
    {CORVANE_VERSION_NUMBERS},
    {CORVANE_STR_1301, CORVANE_STR_1302, CORVANE_STR_1303, CORVANE_STR_1304, CORVANE_STR_1305},
    CORVANE_FILE_DESCRIPTION,
    CORVANE_VERSION_TEXT,
    CORVANE_INTERNAL_NAME,
    CORVANE_ORIGINAL_NAME,
    CORVANE_PRODUCT_NAME,
    CORVANE_VERSION_TEXT,
};

oschar* GetResourceOstr(oschar* destination, int32_t capacity, int32_t base, int32_t offset, void* module) {
  if (capacity <= 0) return destination;
  destination[0] = 0;
  int32_t index = base + offset - kCvFirstDeclaration;
  if (module == nullptr || index < 0 || index >= kCvDeclarationCount) return destination;
  const char* text = corvaneResources.strings[index];
  int32_t i = 0;
  for (; i < capacity - 1 && text[i] != 0; ++i) destination[i] = (oschar)(unsigned char)text[i];
  destination[i] = 0;
  return destination;
}

#endif

#ifdef CORVANE_UNICODE
/* A character takes one or two UTF-16 units. */
enum { kUtf16UnitsPerChar = 2 };

qchar* GetResourceStr(qchar* destination, int32_t capacity, int32_t base, int32_t offset, void* module) {
  if (capacity <= 0) return destination;
  destination[0] = 0;
  /* Through the plug-in's own allocator, so that its fault points reach it. */
  XPSize bytes = XPByteCount((int64_t)capacity * kUtf16UnitsPerChar, (int32_t)sizeof(oschar), 0);
  oschar* wide = static_cast<oschar*>(NewXPPointer(bytes, kFaultDesignText));
  if (wide == nullptr) return destination;
  GetResourceOstr(wide, capacity * kUtf16UnitsPerChar, base, offset, module);
  /* Twice the room in UTF-16 units could convert into more characters than
   * the destination holds: keep what fits. */
  wide[capacity - 1] = 0;
  CHRoscharToChar(wide, destination);
  DisposeXPPointer(wide);
  return destination;
}
#endif
