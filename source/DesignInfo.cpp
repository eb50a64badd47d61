/* DesignInfo.cpp - help text for the host's design time: the parameter list
 * of a command, taken from its declaration, or the return-value help. */
#include <string.h>

#include "corvane/CorvaneAbi.h"
#include "DesignInfo.h"
#include "OMstring.h"
#include "extutils.h"

enum { kDeclarationChars = 1024 };

/* The answers begin with these; the count the host shows covers them. */
static const char kParamsLead[] = "Parms: ";
static const char kReturnHelp[] = "Return Code :";
enum { kParamsLeadChars = sizeof kParamsLead - 1, kReturnHelpChars = sizeof kReturnHelp - 1 };

static void loadDeclaration(qchar* destination, int16_t command, int16_t first, void* module) {
#ifdef CORVANE_UNICODE
  GetResourceStr(destination, kDeclarationChars, first, command - 1, module);
#else
  GetResourceOstr(reinterpret_cast<char*>(destination), kDeclarationChars, first, command - 1, module);
#endif
}

/* The count is one host character at offset 10, the text follows it.  The
 * record need not be aligned for host characters, so both go in by memcpy. */
static void storeAnswer(uint8_t* record, const qchar* text, int32_t count) {
#ifdef CORVANE_UNICODE
  const size_t textOffset = kCvDesignTextUnicode;
#else
  const size_t textOffset = kCvDesignTextByte;
#endif
  qchar unit = (qchar)count;
  memcpy(record + kCvDesignCount, &unit, sizeof unit);
  memcpy(record + textOffset, text, ((size_t)OMstrlen(text) + 1) * sizeof(qchar));
  record[kCvDesignAnswered] = 0;
}

static void answerParameterHelp(uint8_t* record, int16_t command, int16_t first, void* module) {
  qchar help[kParamsLeadChars + kDeclarationChars + 1];
  qchar declaration[kDeclarationChars];
  qchar prefixed[kDeclarationChars + 1];
  CHRcopyAsciiStringToQchar(kParamsLead, help, 1);
  loadDeclaration(declaration, command, first, module);

  /* Length-prefixed copy: the characters from unit 1 on. */
  int32_t length = OMstrlen(declaration);
  OMstrcpy(prefixed + 1, declaration);
  prefixed[0] = (qchar)length;

  int32_t colon = 1;
  while (colon < length && prefixed[colon] != ':') ++colon;
  prefixed[colon] = 0;
  length = colon;
  int32_t paren = 1;
  while (paren < length && prefixed[paren] != '(') ++paren;

  OMstrcat(help, prefixed + paren);
  storeAnswer(record, help, kParamsLeadChars + (colon - paren));
}

static void answerReturnHelp(uint8_t* record) {
  qchar help[sizeof kReturnHelp];
  CHRcopyAsciiStringToQchar(kReturnHelp, help, 1);
  storeAnswer(record, help, kReturnHelpChars);
}

void doDesignInfo(void* designRecord, int16_t command, int16_t firstDeclaration, void* module) {
  uint8_t* record = static_cast<uint8_t*>(designRecord);
  int16_t kind;
  memcpy(&kind, record + kCvDesignKind, sizeof kind);
  if (kind == kCvDesignParamHelp) answerParameterHelp(record, command, firstDeclaration, module);
  if (kind == kCvDesignReturnHelp) answerReturnHelp(record);
}
