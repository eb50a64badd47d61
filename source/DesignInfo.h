/* DesignInfo.h - help text for the host's design time (message 3): the
 * parameter list of a command or the return-value help (DesignInfo.cpp). */
#ifndef CORVANE_DESIGNINFO_H
#define CORVANE_DESIGNINFO_H

#include <stdint.h>

/* Answers the design record for `command`, whose declaration is string
 * firstDeclaration + command - 1 of `module`. */
void doDesignInfo(void* designRecord, int16_t command, int16_t firstDeclaration, void* module);

#endif
