/*
 * CorvaneTexts.h - the texts and numbers of the command declarations, the
 * Q7INF record and the version resource.  They exist only here: the Windows
 * resource scripts and the resource image of the Linux build both take them
 * from this file.  It must stay readable by the resource compiler, so it
 * holds nothing but #define and #include lines.  Define CORVANE_UNICODE for the Unicode
 * build before including it.
 */
#ifndef CORVANE_TEXTS_H
#define CORVANE_TEXTS_H

/* The resource compiler takes each text as one literal: no line breaks. */
/* clang-format off */

#define CORVANE_STR_1301 "Corvane.FormattedStringToList(stringField, listField, rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim):1301004"
#define CORVANE_STR_1302 "Corvane.ListToFormattedString(listField, stringField, rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim):1301003"
#define CORVANE_STR_1303 "Corvane.StringToList(stringField, listField [,delimByte]):1301002"
#define CORVANE_STR_1304 "Corvane.ListToString(listField, stringField [,delimByte]):1301001"
#define CORVANE_STR_1305 "*Corvane"

#include "CorvaneVersion.h" /* CORVANE_VERSION_NUMBERS and _TEXT, from the build */
#define CORVANE_INTERNAL_NAME "Corvane"
#define CORVANE_PRODUCT_NAME "Corvane Commands"

#ifdef CORVANE_UNICODE
#define CORVANE_TAG "UCMD"
#define CORVANE_FILE_DESCRIPTION "Extended commands for Omnis Studio Unicode"
#define CORVANE_ORIGINAL_NAME "CorvaneU.DLL"
#else
#define CORVANE_TAG "7CMD"
#define CORVANE_FILE_DESCRIPTION "Extended commands for Omnis 7/Studio"
#define CORVANE_ORIGINAL_NAME "Corvane.DLL"
#endif

#endif
