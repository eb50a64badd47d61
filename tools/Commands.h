// Commands.h - the plug-in's four commands run through our host, as the host
// application runs them, and what a host learns about a plug-in file.
#ifndef CORVANE_TOOLS_COMMANDS_H
#define CORVANE_TOOLS_COMMANDS_H

#include "CsvTable.h"
#include "Encoding.h"
#include "Host.h"
#include "Messages.h"
#include "PluginFile.h"
#include "Progress.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::cli {

// The six format strings of the formatted commands.
struct Format {
  std::u32string rowPrefix, rowSuffix, rowDelim, colPrefix, colSuffix, colDelim;
};

// One plug-in file, loaded into one host instance for the program's run.
class Session {
 public:
  // Throws Failure (files) when the file cannot be opened as a plug-in.
  Session(const std::filesystem::path& pluginPath, bool rawBytes, ProgressMode progress);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const corvane::host::Plugin& plugin() const { return *plugin_; }
  corvane::host::Host& host() { return *host_; }
  bool unicode() const;
  // How text reaches this plug-in: code points, Latin-1, or bytes.
  TextMode mode() const { return mode_; }
  ProgressMode progress() const { return progress_; }

 private:
  std::unique_ptr<corvane::host::Plugin> plugin_;
  std::unique_ptr<corvane::host::Host> host_;
  TextMode mode_;
  ProgressMode progress_;
};

// Each command throws Failure (result) with a message in the user's terms
// when the plug-in reports a non-zero result, and warns on standard error
// about data the command drops by design.

// ListToString: every cell followed by the delimiter (252 when none is given).
std::u32string runListToString(Session& session, Table table, const std::optional<std::u32string>& delimiter);

// StringToList: the cells of the text into a list of the given columns.
const corvane::host::List& runStringToList(Session& session, std::u32string text,
                                           std::vector<std::u32string> columns,
                                           const std::optional<std::u32string>& delimiter);

// ListToFormattedString.
std::u32string runListToFormatted(Session& session, Table table, const Format& format);

// FormattedStringToList.
const corvane::host::List& runFormattedToList(Session& session, std::u32string text,
                                              std::vector<std::u32string> columns, const Format& format);

// What a host learns from the plug-in file before calling it, and the
// design help of each command: several lines of UTF-8.
std::string describePlugin(Session& session);

// The prefix of the first column: the first entry of a "VARIANT:" list, or
// the whole text.
std::u32string firstColumnPrefix(const std::u32string& colPrefix);
// The number of entries of a "VARIANT:" list, or 0 for a plain text.
std::size_t variantEntries(const std::u32string& text);

}  // namespace corvane::cli

#endif
