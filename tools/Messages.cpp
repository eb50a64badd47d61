// Messages.cpp - result codes as the user reads them.
#include "Messages.h"

#include "Escapes.h"
#include "corvane/CorvaneAbi.h"

#include <climits>

namespace corvane::cli {

namespace {

// The host resolves names of at most 254 characters; the plug-in reads a
// list's column definition into 64,000 bytes, terminator included.
constexpr std::size_t kMaxColumns = kCvMaxColumns;
constexpr std::size_t kMaxName = kCvMaxNameChars;
constexpr std::size_t kDefinitionBytes = kCvDefinitionBytes;

std::string columnNames(const ResultContext& c) {
  if (c.columns == 0) return "the list has no columns";
  if (c.longestName > kMaxName)
    return "a column name has " + std::to_string(c.longestName) +
           " characters; the host resolves names of at most " + std::to_string(kMaxName);
  const std::size_t room = kDefinitionBytes / (c.unicodeBuild ? 4 : 1) - 1;
  if (c.definitionChars > room)
    return "the column names take " + std::to_string(c.definitionChars) +
           " characters with the commas between them; the plug-in reads at most " + std::to_string(room);
  return "the host could not resolve the list's column names";
}

bool fillsList(CommandId command) {
  return command == CommandId::StringToList || command == CommandId::FormattedToList;
}

// Result 3: bad parameters, which for each command has its own causes.
std::string badParameters(const ResultContext& c) {
  switch (c.command) {
    case CommandId::ListToFormatted:
      if (c.rowDelim == c.colDelim)
        return c.rowDelim.empty() ? "row and column delimiters are both empty"
                                  : "row and column delimiters are identical";
      break;
    case CommandId::FormattedToList:
      if (c.rowDelim.empty()) return "the row delimiter is empty";
      if (c.colDelim.empty()) return "the column delimiter is empty";
      if (c.emptyInput) return "the input text is empty";
      return "the text does not begin with the row start \"" + showEscaped(c.rowStart, c.mode) +
             "\" (the row prefix and the first column's prefix)";
    case CommandId::StringToList:
      if (c.emptyInput) return "the input text is empty";
      break;
    case CommandId::ListToString:
      break;
  }
  return "the command was given too few parameters";
}

}  // namespace

const char* subcommandName(std::int32_t id) {
  switch (id) {
    case kCvCmdFormattedStringToList:
      return "formatted-to-list";
    case kCvCmdListToFormattedString:
      return "list-to-formatted";
    case kCvCmdStringToList:
      return "string-to-list";
    case kCvCmdListToString:
      return "list-to-string";
    default:
      return "";
  }
}

std::string describeResult(const ResultContext& c) {
  if (c.code == INT_MIN) return "the plug-in reported no result";
  std::string what;
  switch (c.code) {
    case kCvResultNotReady:
      what = "the plug-in could not set up its working memory and refuses to run commands";
      break;
    case kCvResultResource:
      what = fillsList(c.command)
                 ? "the plug-in ran out of memory, or the list did not get the lines it asked for"
                 : "the plug-in ran out of memory";
      break;
    case kCvResultBadParams:
      what = badParameters(c);
      break;
    case kCvResultGrowth:
      what = c.columns > kMaxColumns
                 ? "the list has " + std::to_string(c.columns) + " columns; the plug-in handles at most " +
                       std::to_string(kMaxColumns)
                 : "the text grew larger than the plug-in could make its buffer";
      break;
    case kCvResultColumns:
      what = columnNames(c);
      break;
    default:
      return "the plug-in reported result " + std::to_string(c.code) + ", which it does not document";
  }
  return what + " (result " + std::to_string(c.code) + ")";
}

}  // namespace corvane::cli
