// Escapes.h - C-style escapes in option values, so that any character, a
// line break included, can be given from any shell:
//   \n \r \t \\ \" \'   the usual meaning
//   \xHH                the character with that number (two hex digits)
//   \u{H...}            the code point with that number (one to six hex digits)
// Anything else after a backslash is an error.
#ifndef CORVANE_TOOLS_ESCAPES_H
#define CORVANE_TOOLS_ESCAPES_H

#include "Encoding.h"

#include <string>
#include <string_view>

namespace corvane::cli {

// The host characters an option value stands for.  `what` names the option
// in messages.  Throws Failure (usage) for a malformed escape or a character
// the mode cannot hold, naming the character's position.
std::u32string unescape(std::string_view value, TextMode mode, std::string_view what);

// The text as a message shows it: line breaks, tabs, backslashes and other
// control characters written as escapes, so that it stays on one line.
std::string showEscaped(std::u32string_view text, TextMode mode);

// Bytes as read, before any decoding, for a message: a backslash doubled,
// control characters as \xNN, everything else as it is, so that the message
// stays on one line.
std::string printableBytes(std::string_view bytes);

}  // namespace corvane::cli

#endif
