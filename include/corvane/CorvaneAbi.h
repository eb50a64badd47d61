/*
 * corvane/CorvaneAbi.h - the binary contract between a Corvane plug-in and
 * its host.
 *
 * Everything a host and a plug-in may assume about each other is in this
 * file, and nothing else: the entry point, the callback and its operation
 * codes, the value kinds, the field numbers, the limits a host sees, the
 * result codes and the conditions that give each, the movable-handle record
 * used off Windows, the design record layout and the resource image that
 * carries the command declarations in a Linux shared object.  It is plain C
 * declarations only (no code, nothing to link), so that a host written in C,
 * C++ or any language that can mirror it builds against it.  `cmake
 * --install` of the Linux build puts it in <prefix>/include/corvane.
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
/* Kind 8: the characters follow a 32-bit count at the head of the block. */
enum { kCvHandleCountBytes = 4 };

/* DoListOp operations. */
enum { kCvListClear = 0, kCvListSetLines = 6 };

/* Fixed field numbers. */
enum {
  kCvFieldResult = 200,
  kCvFieldParamCount = 210,
  kCvFieldParam1 = 211 /* parameter n is 210 + n, n = 1..8 */
};

/* Result codes, reported once per execute message in field 200 as a signed
 * 16-bit number; there is no code 1.  kCvResultBadParams in detail: fewer
 * than kCvListParamsMin parameters (ListToString, StringToList) or
 * kCvFormattedParamsMin (the formatted commands); identical rowDelim and
 * colDelim in ListToFormattedString; an empty rowDelim or colDelim, or a
 * text that does not begin with rowPrefix and the first column's prefix, in
 * FormattedStringToList. */
enum {
  /* No instance in the slot, or its set-up could not allocate a working buffer; no command ran. */
  kCvResultNotReady = -1,
  /* Ran to its end; also an unknown command number, or an input text delivered with 0 characters. */
  kCvResultOk = 0,
  /* No memory, a buffer or text block not lockable or not handed back, or a line count the list refused. */
  kCvResultResource = 2,
  /* Too few parameters, an input length of 0, rowDelim = colDelim, an empty delimiter, or no row start. */
  kCvResultBadParams = 3,
  /* A working buffer could not grow or be locked again after growing, or the list has over 400 columns. */
  kCvResultGrowth = 4,
  /* The list's column definition is empty, or names a column the host cannot resolve. */
  kCvResultColumns = 5
};

/* Parameters each command needs at least; with fewer it gives kCvResultBadParams. */
enum { kCvListParamsMin = 2, kCvFormattedParamsMin = 8 };

/* Limits, the same in both builds. */
enum {
  kCvMaxColumns = 400,           /* columns of a list a command handles */
  kCvDefinitionBytes = 64000,    /* room for a column definition (GetListDef), terminator included */
  kCvCountedChars = 255,         /* the most a count unit announces (a name for GetFldRef, kind 1) */
  kCvMaxNameChars = 254,         /* characters of a field name the plug-in passes to GetFldRef */
  kCvShortStringChars = 15,      /* characters a host writes of a short string (kind 1) */
  kCvListCellChars = 255,        /* characters of a cell ListToString asks the host for */
  kCvFormattedCellChars = 32000, /* characters of a cell ListToFormattedString asks the host for */
  kCvFormatStringChars = 255,    /* characters of each format string (parameters 3 to 8) that count */
  kCvVariantEntries = 128,       /* entries of a "VARIANT:" list that are used; later ones are ignored */
  kCvDefaultDelimiter = 252      /* ListToString's and StringToList's delimiter without a third parameter */
};

/* A prefix or suffix format string that begins with this keyword is a list
 * of one entry per column, separated by commas. */
#define CORVANE_VARIANT_KEYWORD "VARIANT:"
/* The name whose field reference reads a list's line count (GetLstVal row 0). */
#define CORVANE_LINE_COUNT_NAME "#LN"

/* The working buffers, in bytes in both builds: ListToString builds its text
 * in the ScratchBuffer, ListToFormattedString in the BigBuffer.  A buffer
 * grows once fewer than its margin bytes remain, by half its size and at
 * least by its step; where growth is refused the text stops there. */
enum {
  kCvScratchInitialBytes = 32500,
  kCvScratchStepBytes = 32000,
  kCvScratchMarginBytes = 500,
  kCvBigInitialBytes = 5306880,
  kCvBigStepBytes = 0x200000,
  kCvBigMarginBytes = 64000
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
