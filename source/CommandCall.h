/* CommandCall.h - the four commands and the record each runs with: what a
 * command reads and what it leaves behind for the entry point to free. */
#ifndef CORVANE_COMMANDCALL_H
#define CORVANE_COMMANDCALL_H

#include <stdint.h>

#include "corvane/CorvaneAbi.h"
#include "Instance.h"

/* One execute message: what a command reads and what it leaves behind for
 * the entry point to free. */
typedef struct CommandCall {
  InstanceBlock* block;
  HostCallback cb;
  int16_t paramCount;
  int16_t result;
  int16_t* columnRefs;   /* freed by the entry point */
  XPHandle stringHandle; /* freed by the entry point */
  void* workspace;       /* freed by the entry point */
} CommandCall;

void FormattedStringToList(CommandCall* call);
void ListToFormattedString(CommandCall* call);
void StringToList(CommandCall* call);
void ListToString(CommandCall* call);

#endif
