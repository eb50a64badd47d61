/* contract_check.c - the contract's header compiles as plain C99 with every
 * warning an error, and the values a host relies on stay what hosts already
 * use: a change to any of them fails the build. */
#include "corvane/CorvaneAbi.h"

#define PIN(name, value) typedef char pinned_##name[(name) == (value) ? 1 : -1]

PIN(kCvResultNotReady, -1);
PIN(kCvResultOk, 0);
PIN(kCvResultResource, 2);
PIN(kCvResultBadParams, 3);
PIN(kCvResultGrowth, 4);
PIN(kCvResultColumns, 5);

PIN(kCvListParamsMin, 2);
PIN(kCvFormattedParamsMin, 8);
PIN(kCvMaxColumns, 400);
PIN(kCvDefinitionBytes, 64000);
PIN(kCvCountedChars, 255);
PIN(kCvMaxNameChars, 254);
PIN(kCvShortStringChars, 15);
PIN(kCvListCellChars, 255);
PIN(kCvFormattedCellChars, 32000);
PIN(kCvFormatStringChars, 255);
PIN(kCvVariantEntries, 128);
PIN(kCvDefaultDelimiter, 252);

PIN(kCvScratchInitialBytes, 32500);
PIN(kCvScratchStepBytes, 32000);
PIN(kCvScratchMarginBytes, 500);
PIN(kCvBigInitialBytes, 5306880);
PIN(kCvBigStepBytes, 2097152);
PIN(kCvBigMarginBytes, 64000);

PIN(kCvFieldResult, 200);
PIN(kCvFieldParamCount, 210);
PIN(kCvFieldParam1, 211);
PIN(kCvOpGetFldRef, 28);
PIN(kCvOpGetListDef, 52);
PIN(kCvKindHandle, 8);
PIN(kCvHandleCountBytes, 4);

/* The 16-bit slot of GetListDef's maximum: 64,000 arrives as -1536. */
typedef char pinned_definitionSlot[(int16_t)(uint16_t)kCvDefinitionBytes == -1536 ? 1 : -1];
