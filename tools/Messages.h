// Messages.h - the commands by number and name, and what a result code
// means in the user's terms.
#ifndef CORVANE_TOOLS_MESSAGES_H
#define CORVANE_TOOLS_MESSAGES_H

#include "Encoding.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane::cli {

// The numbers the host reports for the commands.
enum class CommandId : std::int32_t {
  FormattedToList = 1,
  ListToFormatted = 2,
  StringToList = 3,
  ListToString = 4,
};

// "list-to-string" for command 4, "" for a number that is no command.
const char* subcommandName(std::int32_t id);

// What the program knew when a command failed, to say why in the user's
// terms: several conditions share one result code.
struct ResultContext {
  CommandId command = CommandId::ListToString;
  int code = 0;
  std::size_t columns = 0;          // columns of the list
  std::size_t longestName = 0;      // characters of the longest column name
  std::size_t definitionChars = 0;  // the names joined with commas
  bool unicodeBuild = true;
  bool emptyInput = false;  // the input text was empty
  std::u32string rowDelim;  // the formatted commands' delimiters
  std::u32string colDelim;
  std::u32string rowStart;  // row prefix and first column's prefix
  TextMode mode = TextMode::Unicode;
};

// One line, ending in "(result N)", e.g. "row and column delimiters are
// identical (result 3)".
std::string describeResult(const ResultContext& context);

}  // namespace corvane::cli

#endif
