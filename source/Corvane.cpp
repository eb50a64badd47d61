/* Corvane.cpp - the one exported function, its messages and the module
 * entry that records the module handle. */
#include <string.h>

#include "CALLBACK.h"
#include "CommandCall.h"
#include "DesignInfo.h"
#include "Instance.h"
#include "OMstring.h"
#include "extutils.h"
#include "kXPqUtil.h"

#if defined(_WIN32)
#include <windows.h>
#define CORVANE_EXPORT
#else
#include <dlfcn.h>
#define CORVANE_EXPORT __attribute__((visibility("default")))
#endif

/* The only sign of a load that could not allocate its instance. */
enum { kNoInstanceBeepHz = 1500, kNoInstanceBeepMs = 2 };

static void releaseBlock(InstanceBlock* block) {
  if (block->scratchBuffer != nullptr) DisposeXPHandle(block->scratchBuffer);
  if (block->bigBuffer != nullptr) DisposeXPHandle(block->bigBuffer);
  DisposeXPPointer(block);
}

static void loadInstance(void** slot, HostCallback cb) {
  InstanceBlock* old = static_cast<InstanceBlock*>(*slot);
  if (old != nullptr && old->state == CORVANE_STATE_COOL) return;

  InstanceBlock* block =
      static_cast<InstanceBlock*>(NewXPPointer((XPSize)sizeof(InstanceBlock), kFaultInstanceBlock));
  if (block == nullptr) {
    XPBeep(kNoInstanceBeepHz, kNoInstanceBeepMs);
    return;
  }
  block->state = CORVANE_STATE_LOAD;
  block->bigBuffer = nullptr;
  block->bigSize = 0;
  CHRcopyAsciiStringToQchar(CORVANE_VARIANT_KEYWORD, block->variantKeyword, 1);
  qchar lineCountName[sizeof CORVANE_LINE_COUNT_NAME];
  CHRcopyAsciiStringToQchar(CORVANE_LINE_COUNT_NAME, lineCountName, 1);
  block->lineCountRef = (int16_t)GetFldRef(lineCountName, cb);

  block->scratchBuffer = NewXPHandle(kScratchInitialSize, kFaultScratchBuffer);
  block->scratchSize = block->scratchBuffer != nullptr ? kScratchInitialSize : 0;
  block->state = CORVANE_STATE_MERR;
  if (block->scratchBuffer != nullptr) {
    block->bigBuffer = NewXPHandle(kBigInitialSize, kFaultBigBuffer);
    if (block->bigBuffer != nullptr) {
      block->bigSize = kBigInitialSize;
      block->state = CORVANE_STATE_COOL;
    }
  }
  /* A block that never became ready is replaced; release it, not leak it. */
  if (old != nullptr) releaseBlock(old);
  *slot = block;
}

static void runCommand(CommandCall* call, int16_t command) {
  switch (command) {
    case kCvCmdFormattedStringToList:
      FormattedStringToList(call);
      break;
    case kCvCmdListToFormattedString:
      ListToFormattedString(call);
      break;
    case kCvCmdStringToList:
      StringToList(call);
      break;
    case kCvCmdListToString:
      ListToString(call);
      break;
    default:
      break; /* unknown numbers run nothing and report 0 */
  }
}

static void executeCommand(void** slot, HostCallback cb) {
  CommandCall call;
  memset(&call, 0, sizeof call);
  call.block = static_cast<InstanceBlock*>(*slot);
  call.cb = cb;
  if (call.block == nullptr || call.block->state != CORVANE_STATE_COOL) {
    SetFldInt(kCvFieldResult, kCvResultNotReady, cb);
  } else {
    call.paramCount = (int16_t)GetFldInt(kCvFieldParamCount, cb);
    int16_t command = (int16_t)GetPackageId(cb);
    call.result = kCvResultOk;
    runCommand(&call, command);
    SetFldInt(kCvFieldResult, call.result, cb);
  }
  if (call.columnRefs != nullptr) DisposeXPPointer(call.columnRefs);
  if (call.stringHandle != nullptr) DisposeXPHandle(call.stringHandle);
  if (call.workspace != nullptr) DisposeXPPointer(call.workspace);
}

static void unloadInstance(void** slot) {
  InstanceBlock* block = static_cast<InstanceBlock*>(*slot);
  if (block == nullptr) return;
  releaseBlock(block);
  *slot = nullptr;
}

static void answerDesignHelp(HostCallback cb) {
  int16_t command = (int16_t)GetPackageId(cb);
  void* record = GetDesignPtr(cb);
  if (record != nullptr) doDesignInfo(record, command, kCvFirstDeclaration, hInstLib);
}

static void setDesignFlag(HostCallback cb) {
  uint8_t* record = static_cast<uint8_t*>(GetDesignPtr(cb));
  if (record == nullptr) return;
  int16_t one = 1;
  memcpy(record + kCvDesignFlag, &one, sizeof one);
}

extern "C" CORVANE_EXPORT void CORVANE_STDCALL Corvane(int32_t message, void** slot, int32_t, int32_t,
                                                       int32_t, HostCallback cb) {
  int16_t what = (int16_t)(uint16_t)(message & 0xFFFF);
  if (cb == nullptr && what != kCvMsgUnload) return; /* nothing to report through */
  switch (what) {
    case kCvMsgLoad:
      if (slot != nullptr) loadInstance(slot, cb);
      break;
    case kCvMsgExecute:
      if (slot != nullptr) {
        executeCommand(slot, cb);
      } else {
        SetFldInt(kCvFieldResult, kCvResultNotReady, cb);
      }
      break;
    case kCvMsgUnload:
      if (slot != nullptr) unloadInstance(slot);
      break;
    case kCvMsgDesignHelp:
      answerDesignHelp(cb);
      break;
    case kCvMsgDesignFlag:
      setDesignFlag(cb);
      break;
    default:
      break;
  }
}

#if defined(_WIN32)
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH && hInstLib == nullptr) hInstLib = module;
  if (reason == DLL_PROCESS_DETACH) hInstLib = nullptr;
  return TRUE;
}
#else
/* Where there is no DllMain, the loader's constructor call plays its part:
 * the module handle is the base address at which this file is mapped. */
__attribute__((constructor)) static void attachModule(void) {
  Dl_info info;
  if (hInstLib == nullptr && dladdr(reinterpret_cast<void*>(&attachModule), &info) != 0)
    hInstLib = info.dli_fbase;
}
__attribute__((destructor)) static void detachModule(void) { hInstLib = nullptr; }
#endif
