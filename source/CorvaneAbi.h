/*
 * CorvaneAbi.h - the binary contract between a Corvane plug-in and its host.
 *
 * Everything a host and a plug-in may assume about each other is in this
 * file, and nothing else: the entry point, the callback and its operation
 * codes, the value kinds, the field numbers, the movable-handle record used
 * off Windows, the design record layout and the resource image that carries
 * the command declarations in a Linux shared object.  It is plain C so that
 * a host written in any language can mirror it.
 */
#ifndef CORVANE_ABI_H
#define CORVANE_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define CORVANE_STDCALL __stdcall
#else
#define CORVANE_STDCALL
#endif

/* The host's callback: cdecl and variadic.  After `op`, 16-bit values are
 * passed as int (sign-extended), 32-bit values as int32_t, addresses as
 * pointers.  For kCvOpDoListOp only the low byte of the result counts. */
typedef int32_t (*HostCallback)(int32_t op, ...);

/* The one export, "Corvane".  Only the low 16 bits of `message` count, read
 * as signed.  Arguments 3 to 5 are never read. */
typedef void(CORVANE_STDCALL* CorvaneEntryPoint)(int32_t message, void** slot, int32_t, int32_t, int32_t,
                                                 HostCallback callback);

#define CORVANE_ENTRY_NAME "Corvane"

/* Messages. */
enum { kCvMsgLoad = 0, kCvMsgExecute = 1, kCvMsgUnload = 2, kCvMsgDesignHelp = 3, kCvMsgDesignFlag = 4 };

/* Callback operations.  The arguments after the code, in order:
 *  28 GetFldRef    name (length-prefixed host characters)
 *  29 GetFldInt    field; double *out
 *  30 SetFldVal    field; kind; const void *value
 *  31 SetFldInt    field; const double *value
 *  38 GetFldVal    field; kind; int32 maximum; void *destination
 *  39 GetLstVal    list; column; kind; void *destination; int32 pair[2] = {row, maximum}
 *  41 SetLstVal    list; int32 row; column; kind; const void *value
 *  43 DoListOp     operation; list; int32 number
 *  48 GetPackageId int32 *out
 *  49 GetDesignPtr void **out
 *  52 GetListDef   list; maximum (16-bit slot: 64000 arrives as -1536); void *destination
 */
enum {
  kCvOpGetFldRef = 28,
  kCvOpGetFldInt = 29,
  kCvOpSetFldVal = 30,
  kCvOpSetFldInt = 31,
  kCvOpGetFldVal = 38,
  kCvOpGetLstVal = 39,
  kCvOpSetLstVal = 41,
  kCvOpDoListOp = 43,
  kCvOpGetPackageId = 48,
  kCvOpGetDesignPtr = 49,
  kCvOpGetListDef = 52
};

/* Value kinds of GetFldVal, SetFldVal, GetLstVal and SetLstVal. */
enum {
  kCvKindDouble = 0,      /* 64-bit IEEE double */
  kCvKindShortString = 1, /* unit 0 = count, then the characters */
  kCvKindString = 2,      /* zero-terminated host characters */
  kCvKindLength = 4,      /* int32 length in characters */
  kCvKindHandle = 8       /* whole text into a movable handle: int32 count, characters */
};

/* DoListOp operations. */
enum { kCvListClear = 0, kCvListSetLines = 6 };

/* Fixed field numbers. */
enum {
  kCvFieldResult = 200,
  kCvFieldParamCount = 210,
  kCvFieldParam1 = 211 /* parameter n is 210 + n, n = 1..8 */
};

/* Result codes reported in field 200. */
enum {
  kCvResultNotReady = -1,
  kCvResultOk = 0,
  kCvResultResource = 2,
  kCvResultBadParams = 3,
  kCvResultGrowth = 4,
  kCvResultColumns = 5
};

/* Command numbers reported by GetPackageId. */
enum {
  kCvCmdFormattedStringToList = 1,
  kCvCmdListToFormattedString = 2,
  kCvCmdStringToList = 3,
  kCvCmdListToString = 4
};

/* Instance states: four characters, the first in the most significant byte. */
#define CORVANE_STATE_LOAD 0x4C4F4144u
#define CORVANE_STATE_COOL 0x434F4F4Cu
#define CORVANE_STATE_MERR 0x4D455252u

/* Movable handles off Windows (on Windows they are HGLOBAL).  A handle is the
 * address of a malloc'd record; the data starts at byte 8.  Either side may
 * realloc the record to 8 + new size (zero-filling what is added) or replace
 * it, so the owner of the variable trusts only `size` afterwards. */
typedef struct CorvanePortableHandle {
  int32_t size;
  int32_t locks;
} CorvanePortableHandle;
#define CORVANE_HANDLE_HEADER 8

/* DesignRecord byte offsets. */
enum {
  kCvDesignKind = 6,         /* int16: 5 parameter help, 6 return help */
  kCvDesignAnswered = 8,     /* uint8 set to 0 on an answer */
  kCvDesignCount = 10,       /* one host character */
  kCvDesignTextUnicode = 14, /* host characters, zero-terminated */
  kCvDesignTextByte = 11,
  kCvDesignFlag = 14 /* int16 set to 1 by message 4 */
};
enum { kCvDesignParamHelp = 5, kCvDesignReturnHelp = 6 };

/* String resources and the Q7INF record. */
enum { kCvFirstDeclaration = 1301, kCvDeclarationCount = 5, kCvQ7InfSize = 14 };

/* On platforms without Windows resources the library file carries one
 * CorvaneResourceImage in a section of this name, so that a host reads the
 * declarations from the file before it calls anything.  Texts are ASCII,
 * zero-terminated and zero-padded. */
#define CORVANE_RESOURCE_SECTION "corvane_rsrc"
#define CORVANE_RESOURCE_MAGIC "CVRSRC1"

typedef struct CorvaneResourceImage {
  char magic[8];               /* CORVANE_RESOURCE_MAGIC */
  uint8_t q7inf[kCvQ7InfSize]; /* tag, first declaration (LE), 8 zeros */
  uint8_t reserved[2];
  uint16_t fileVersion[4]; /* 3, 3, 0, 0 */
  uint16_t productVersion[4];
  char strings[kCvDeclarationCount][256]; /* string 1301 + i */
  char fileDescription[128];
  char fileVersionText[16];
  char internalName[64];
  char originalName[64];
  char productName[64];
  char productVersionText[16];
} CorvaneResourceImage;

#ifdef __cplusplus
}
#endif

#endif /* CORVANE_ABI_H */
