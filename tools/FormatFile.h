// FormatFile.h - the format strings of the formatted commands, kept in a
// file so that a format can be named instead of spelled out:
//
//   # comment
//   row-prefix=<tr><td>
//   row-delim=\n
//   col-delim="</td><td>"
//
// One key=value per line.  The value is the exact text after '=', spaces
// included; enclosed in double quotes, it is the text between them.  Values
// take the same escapes as options.  Keys: before, after, row-prefix,
// row-suffix, row-delim, col-prefix, col-suffix, col-delim, and escape (how
// cells are escaped: html, xml, json, csv or none).
#ifndef CORVANE_TOOLS_FORMAT_FILE_H
#define CORVANE_TOOLS_FORMAT_FILE_H

#include <map>
#include <string>
#include <string_view>

namespace corvane::cli {

struct FormatValue {
  std::string text;    // as written, escapes not yet read
  std::string origin;  // "html.fmt, line 3", for messages
};

using FormatValues = std::map<std::string, FormatValue, std::less<>>;

// Throws Failure: files when unreadable, usage for a malformed line or an
// unknown key.
FormatValues readFormatFile(std::string_view path);

// Parses the text of a format file; `path` names it in messages.
FormatValues parseFormatFile(std::string_view text, std::string_view path);

}  // namespace corvane::cli

#endif
