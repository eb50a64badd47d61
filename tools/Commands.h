// Commands.h - the plug-in's four commands run through our host, as the host
// application runs them, and what a host learns about a plug-in file.
#ifndef CORVANE_TOOLS_COMMANDS_H
#define CORVANE_TOOLS_COMMANDS_H

#include "ByteBuffer.h"
#include "CellEscaping.h"
#include "CsvTable.h"
#include "Encoding.h"
#include "FormattedSplit.h"
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

// One plug-in file, loaded into one host instance for the program's run;
// workers that run batches side by side each load one more.
class Session {
 public:
  // Throws Failure (files) when the file cannot be opened as a plug-in.
  Session(const std::filesystem::path& pluginPath, bool rawBytes);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const corvane::host::Plugin& plugin() const { return *plugin_; }
  corvane::host::Host& host() { return *host_; }
  // Another host instance on the same plug-in file, loaded; it must go
  // before the session does.
  std::unique_ptr<corvane::host::Host> newHost() const;
  bool unicode() const;
  // How text reaches this plug-in: code points, Latin-1, or bytes.
  TextMode mode() const { return mode_; }

 private:
  std::unique_ptr<corvane::host::Plugin> plugin_;
  std::unique_ptr<corvane::host::Host> host_;
  TextMode mode_;
};

// What every batch of one run shares.
struct Job {
  TextMode mode = TextMode::Unicode;
  bool unicode = true;
  std::vector<std::u32string> columns;      // of the list read or filled
  std::optional<std::u32string> delimiter;  // the delimited commands
  Format format;                            // the formatted commands
  CsvDialect dialect;                       // the lists read and written
  CellEscape escape = CellEscape::None;     // the formatted commands: how cells are escaped
  std::optional<CellEscaper> escaper;       // set from `escape` once the columns are known
};

// Cells longer than a command reads, which the host cuts: counted over the
// batches, reported once at the end.
struct LongCells {
  std::uint64_t count = 0;
  std::string first;  // where the first one stands
  void add(const LongCells& other);
};

// A list a command filled from one batch.
struct FilledRows {
  std::size_t rows = 0;
  ByteBuffer csv;  // the records, without the header
  // Set when the batch was checked as a cut (formatted-to-list) and the
  // whole text might read differently there.
  std::optional<std::string> uncut;
  // formatted-to-list with escaping: the first cell whose escapes do not
  // decode (its row counted in the batch from 0); the records stop before it.
  struct Fault {
    std::size_t row = 0, column = 0;
    CellProblem problem;
  };
  std::optional<Fault> fault;
};

// Each command runs on one batch through one host instance and throws
// Failure (result) with a message in the user's terms when the plug-in
// reports a non-zero result.  A batch's text is the text the command gets.

// The list a batch of records is read into: field 1 of `host`, empty, with
// the job's columns.  It keeps the memory of the batch before.
corvane::host::CellList& listOfBatch(corvane::host::Host& host, const Job& job);

// ListToString over the list of the batch, filled: every cell followed by
// the delimiter (252 when none is given).  `rowLines` gives the input line
// of each row, for messages.  The text is the host's, valid until the host
// runs again.
std::u32string_view runListToString(corvane::host::Host& host, const Job& job,
                                    const std::vector<std::size_t>& rowLines, LongCells& longCells);

// ListToFormattedString, the same way.
std::u32string_view runListToFormatted(corvane::host::Host& host, const Job& job,
                                       const std::vector<std::size_t>& rowLines, LongCells& longCells);

// Room for the text that runStringToList or runFormattedToList will take,
// `most` characters at the most, in the host field that holds it: a text
// written there from its start is given to the command without a copy.
char32_t* commandTextRoom(corvane::host::Host& host, std::size_t most);

// StringToList: the cells of the text into the job's columns, as CSV records.
FilledRows runStringToList(corvane::host::Host& host, const Job& job, std::u32string_view text);

// FormattedStringToList, as CSV records.  With `cut` the batch ends at a
// cut followed by `lookahead`, and the rows are checked (FormattedSplit.h).
struct CutCheck {
  const FormatShape* shape = nullptr;
  std::u32string_view lookahead;
  std::size_t expectedRows = 0;
};
FilledRows runFormattedToList(corvane::host::Host& host, const Job& job, std::u32string_view text,
                              const CutCheck* cut);

// Warnings about the whole run, given once.
void warnLongCells(const LongCells& cells, CommandId command);
void warnVariantCounts(const Format& format, std::size_t columns);
// StringToList keeps only whole rows of K cells: what the last batch drops.
void warnDroppedTail(const std::u32string& text, const Job& job);

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
