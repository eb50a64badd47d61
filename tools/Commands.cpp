// Commands.cpp - parameters in, execute message, result and output back.
#include "Commands.h"

#include "Escapes.h"
#include "Failure.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace corvane::cli {

using corvane::host::CharWidth;
using corvane::host::Host;
using corvane::host::List;
using corvane::host::Plugin;

namespace {

constexpr std::int16_t kParam1 = kCvFieldParam1;
constexpr std::int16_t kParam2 = kCvFieldParam1 + 1;
constexpr std::int16_t kParam3 = kCvFieldParam1 + 2;

// What the host writes of one cell when the command reads it: ListToString
// asks for at most 255 characters, ListToFormattedString for 32,000.
constexpr std::size_t kListToStringCell = kCvListCellChars;
constexpr std::size_t kListToFormattedCell = kCvFormattedCellChars;
constexpr std::size_t kVariantEntriesUsed = kCvVariantEntries;
constexpr char32_t kDefaultDelimiter = kCvDefaultDelimiter;
constexpr std::u32string_view kVariantKeyword = U"" CORVANE_VARIANT_KEYWORD;

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string quoted(std::u32string_view text, TextMode mode) { return "\"" + showEscaped(text, mode) + "\""; }

// Cells longer than the command reads are cut by the host: count them.
void countLongCells(const corvane::host::CellList& list, const std::vector<std::size_t>& rowLines,
                    std::size_t limit, TextMode mode, LongCells& out) {
  if (list.longestBound() <= limit) return;
  for (std::size_t r = 0; r < list.rowCount(); ++r) {
    for (std::size_t c = 0; c < list.columnCount(); ++c) {
      if (list.cell(r, c).size() <= limit) continue;
      if (out.count++ == 0)
        out.first = "line " + std::to_string(r < rowLines.size() ? rowLines[r] : r + 2) + ", column " +
                    quoted(list.columns()[c], mode);
    }
  }
}

void warnVariantCount(const std::u32string& text, const char* option, std::size_t columns) {
  const std::size_t entries = variantEntries(text);
  if (entries == 0 || columns == 0) return;
  if (entries > kVariantEntriesUsed)
    warn(std::string(option) + " lists " + std::to_string(entries) + " entries; the plug-in uses the first " +
         std::to_string(kVariantEntriesUsed));
  else if (entries < columns)
    warn(std::string(option) + " lists " + plural(entries, "entry", "entries") + " for " +
         plural(columns, "column", "columns") + "; the columns past the list get none");
  else if (entries > columns)
    warn(std::string(option) + " lists " + plural(entries, "entry", "entries") + " for " +
         plural(columns, "column", "columns") + "; the extra entries are not used");
}

ResultContext contextFor(CommandId command, const Job& job) {
  ResultContext context;
  context.command = command;
  context.columns = job.columns.size();
  for (const auto& name : job.columns) {
    context.longestName = std::max(context.longestName, name.size());
    context.definitionChars += name.size() + (context.definitionChars != 0 ? 1 : 0);
  }
  context.unicodeBuild = job.unicode;
  context.mode = job.mode;
  if (command == CommandId::ListToFormatted || command == CommandId::FormattedToList) {
    context.rowDelim = job.format.rowDelim;
    context.colDelim = job.format.colDelim;
    context.rowStart = job.format.rowPrefix + firstColumnPrefix(job.format.colPrefix);
  }
  return context;
}

// Runs one command and gives its result code.
int execute(Host& host, CommandId id, int parameters) {
  host.resetStats();
  host.setCommand(static_cast<std::int32_t>(id));
  host.setParamCount(parameters);
  host.execute();
  // A call the host could not complete is one it had no memory for: the
  // command's result would be a list or text short of what it made.
  if (host.stats().failedCalls != 0) throw std::bad_alloc();
  return host.result();
}

// Run by our host, the plug-in reports a lack of memory as one of three
// codes: its set-up found none, an allocation failed, or a buffer could not
// grow.  Those end the run as memory running out; the others are the
// plug-in's verdict on the input.
Exit resultStatus(const ResultContext& context) {
  switch (context.code) {
    case kCvResultNotReady:
    case kCvResultResource:
      return kExitFiles;
    case kCvResultGrowth:
      return context.columns > kCvMaxColumns ? kExitResult : kExitFiles;
    default:
      return kExitResult;
  }
}

void checkResult(const ResultContext& context) {
  if (context.code != kCvResultOk) throw Failure(resultStatus(context), describeResult(context));
}

// A list whose line count the host refused stays short, and the cells the
// command stores past its end are refused one by one without a result
// code: that must not pass for success.
void checkCellsStored(Host& host) {
  const auto stats = host.stats();
  const std::uint64_t attempted = stats.callsOf(kCvOpSetLstVal);
  if (attempted != stats.cellsWritten)
    throw Failure(kExitResult, "the host refused " + groupDigits(attempted - stats.cellsWritten) + " of " +
                                   groupDigits(attempted) +
                                   " cells: the list could not take all the lines the command asked for "
                                   "(the host's lists hold at most " +
                                   groupDigits(static_cast<std::uint64_t>(host.limits().maxLines)) +
                                   " lines)");
}

// The list the command filled, as CSV records.
FilledRows filledRows(const Host& host, const Job& job) {
  // Read in place: the list's string form would cost a string a cell.
  const corvane::host::CellList& list = host.cells(kParam2);
  FilledRows out;
  out.rows = list.rowCount();
  const std::size_t columns = list.columnCount();
  // Room for the most the records can take, so that they never move as
  // they grow: pages reserved and not written are not resident.
  const std::size_t lineEnd = csvLineEnd(job.dialect).size();
  ByteBuffer& csv = out.csv;
  csv.resize(encodedMost(static_cast<std::size_t>(list.characters()), job.mode) +
             out.rows * (columns + lineEnd) + kEncodeRoomSpare);
  std::u32string plain;
  std::string quoted;
  // Records are written through a cursor, `used`, into that room, which
  // the byte buffer leaves unset rather than filling it with zeros first.
  std::size_t used = 0;
  for (std::size_t r = 0; r < list.rowCount(); ++r) {
    if (!job.escaper) {
      // Most records need no quotes: written as they are, then checked once.
      const std::size_t start = used;
      for (std::size_t c = 0; c < columns; ++c) {
        if (c != 0) csv[used++] = job.dialect.delimiter;
        used += encodeTextAt(list.cell(r, c), job.mode, csv.data() + used);
      }
      if (isPlainRecord(view(csv).substr(start, used - start), columns, job.dialect)) {
        const std::string_view end = csvLineEnd(job.dialect);
        std::memcpy(csv.data() + used, end.data(), end.size());
        used += end.size();
        continue;
      }
      used = start;
    }
    quoted.clear();
    for (std::size_t c = 0; c < columns; ++c) {
      std::u32string_view cell = list.cell(r, c);
      if (job.escaper) {
        plain.clear();
        if (auto problem = job.escaper->unescape(cell, job.mode, plain)) {
          out.fault = FilledRows::Fault{r, c, std::move(*problem)};
          csv.resize(used);
          return out;
        }
        cell = plain;
      }
      appendCsvCell(quoted, cell, c == 0, columns == 1, job.dialect, job.mode);
    }
    appendCsvLineEnd(quoted, job.dialect);
    // The record's own room is left for the rows after it, which may need
    // it: the quoted record gets room of its own.
    csv.resize(csv.size() + quoted.size());
    std::memcpy(csv.data() + used, quoted.data(), quoted.size());
    used += quoted.size();
  }
  csv.resize(used);
  return out;
}

void setFormat(Host& host, const Format& format) {
  const std::u32string* strings[] = {&format.rowPrefix, &format.rowSuffix, &format.rowDelim,
                                     &format.colPrefix, &format.colSuffix, &format.colDelim};
  for (std::int16_t i = 0; i < 6; ++i) host.setText(static_cast<std::int16_t>(kParam3 + i), *strings[i]);
}

}  // namespace

// --- session -------------------------------------------------------------------

Session::Session(const std::filesystem::path& pluginPath, bool rawBytes) : mode_(TextMode::Unicode) {
  std::string error;
  plugin_ = Plugin::open(pluginPath, &error);
  if (!plugin_) {
    const std::string path = pluginPath.string();
    if (error.compare(0, path.size() + 2, path + ": ") == 0) error.erase(0, path.size() + 2);
    throw Failure(kExitFiles, "cannot load the plug-in " + path + ": " + error);
  }
  mode_ = rawBytes ? TextMode::Bytes : unicode() ? TextMode::Unicode : TextMode::Latin1;
  host_ = newHost();
}

Session::~Session() {
  host_.reset();  // unloads before the library goes
  plugin_.reset();
}

std::unique_ptr<Host> Session::newHost() const {
  auto host = std::make_unique<Host>(*plugin_);
  host->load();
  return host;
}

bool Session::unicode() const { return plugin_->width() == CharWidth::Unicode; }

// --- helpers -------------------------------------------------------------------

std::u32string firstColumnPrefix(const std::u32string& colPrefix) {
  if (colPrefix.compare(0, kVariantKeyword.size(), kVariantKeyword) != 0) return colPrefix;
  const std::size_t comma = colPrefix.find(U',', kVariantKeyword.size());
  return colPrefix.substr(kVariantKeyword.size(), comma == std::u32string::npos
                                                      ? std::u32string::npos
                                                      : comma - kVariantKeyword.size());
}

std::size_t variantEntries(const std::u32string& text) {
  if (text.compare(0, kVariantKeyword.size(), kVariantKeyword) != 0) return 0;
  return 1 + static_cast<std::size_t>(std::count(
                 text.begin() + static_cast<std::ptrdiff_t>(kVariantKeyword.size()), text.end(), U','));
}

void LongCells::add(const LongCells& other) {
  if (count == 0) first = other.first;
  count += other.count;
}

// --- the four commands -----------------------------------------------------------

corvane::host::CellList& listOfBatch(Host& host, const Job& job) {
  return host.emptyList(kParam1, job.columns);
}

// The memory of the fields stays with the host for the next batch: a list
// and a text of a batch's size each.
std::u32string_view runListToString(Host& host, const Job& job, const std::vector<std::size_t>& rowLines,
                                    LongCells& longCells) {
  countLongCells(host.cells(kParam1), rowLines, kListToStringCell, job.mode, longCells);
  ResultContext context = contextFor(CommandId::ListToString, job);
  host.assignText(kParam2, U"");
  if (job.delimiter) host.setText(kParam3, *job.delimiter);
  context.code = execute(host, CommandId::ListToString, job.delimiter ? 3 : 2);
  checkResult(context);
  return host.textView(kParam2);
}

FilledRows runStringToList(Host& host, const Job& job, std::u32string_view text) {
  ResultContext context = contextFor(CommandId::StringToList, job);
  context.emptyInput = text.empty();
  host.assignText(kParam1, text);
  host.emptyList(kParam2, job.columns);
  if (job.delimiter) host.setText(kParam3, *job.delimiter);
  context.code = execute(host, CommandId::StringToList, job.delimiter ? 3 : 2);
  checkResult(context);
  checkCellsStored(host);
  return filledRows(host, job);
}

char32_t* commandTextRoom(Host& host, std::size_t most) { return host.textRoom(kParam1, most); }

std::u32string_view runListToFormatted(Host& host, const Job& job, const std::vector<std::size_t>& rowLines,
                                       LongCells& longCells) {
  countLongCells(host.cells(kParam1), rowLines, kListToFormattedCell, job.mode, longCells);
  ResultContext context = contextFor(CommandId::ListToFormatted, job);
  host.assignText(kParam2, U"");
  setFormat(host, job.format);
  context.code = execute(host, CommandId::ListToFormatted, 8);
  checkResult(context);
  return host.textView(kParam2);
}

FilledRows runFormattedToList(Host& host, const Job& job, std::u32string_view text, const CutCheck* cut) {
  ResultContext context = contextFor(CommandId::FormattedToList, job);
  context.emptyInput = text.empty();
  host.assignText(kParam1, text);
  host.emptyList(kParam2, job.columns);
  setFormat(host, job.format);
  context.code = execute(host, CommandId::FormattedToList, 8);
  checkResult(context);
  checkCellsStored(host);
  FilledRows rows;
  if (cut != nullptr) {
    rows.uncut = checkCut(*cut->shape, text, cut->lookahead, host.cells(kParam2), cut->expectedRows);
  }
  if (!rows.uncut) rows = filledRows(host, job);
  return rows;
}

// --- warnings about a whole run -----------------------------------------------------

void warnLongCells(const LongCells& cells, CommandId command) {
  if (cells.count == 0) return;
  const bool toString = command == CommandId::ListToString;
  const std::size_t limit = toString ? kListToStringCell : kListToFormattedCell;
  warn(plural(cells.count, "cell is", "cells are") + " longer than the " + std::to_string(limit) +
       " characters " + (toString ? "list-to-string" : "list-to-formatted") + " reads of a cell and " +
       (cells.count == 1 ? "was" : "were") + " cut (first: " + cells.first + ")");
}

void warnVariantCounts(const Format& format, std::size_t columns) {
  warnVariantCount(format.colPrefix, "--col-prefix", columns);
  warnVariantCount(format.colSuffix, "--col-suffix", columns);
}

void warnDroppedTail(const std::u32string& text, const Job& job) {
  const std::size_t columns = job.columns.size();
  const char32_t delimiter =
      job.delimiter && !job.delimiter->empty() ? job.delimiter->front() : kDefaultDelimiter;
  if (columns == 0 || text.empty()) return;
  const std::size_t delimiters = static_cast<std::size_t>(std::count(text.begin(), text.end(), delimiter));
  const std::size_t used = delimiters / columns * columns;
  if (used != delimiters)
    warn((delimiters - used == 1 ? std::string("the last cell does")
                                 : "the last " + std::to_string(delimiters - used) + " cells do") +
         " not make a whole row of " + std::to_string(columns) + " and " +
         (delimiters - used == 1 ? "was" : "were") + " dropped");
  const std::size_t last = text.rfind(delimiter);
  const std::size_t after = last == std::u32string::npos ? text.size() : text.size() - last - 1;
  if (after != 0) {
    std::string what = plural(after, "character", "characters");
    if (after <= 16)
      what += " (" + quoted(std::u32string_view(text).substr(text.size() - after), job.mode) + ")";
    warn(what + " after the last delimiter " + (after == 1 ? "was" : "were") +
         " dropped: every cell must be followed by the delimiter");
  }
}

// --- what a host learns ------------------------------------------------------------

namespace {

std::string versionText(const std::array<std::uint16_t, 4>& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

// The design help the plug-in writes for one command and request kind.
std::string designHelp(Session& session, int command, std::int16_t kind) {
  Host& host = session.host();
  host.resetDesignRecord();
  host.setCommand(command);
  host.setDesignKind(kind);
  host.designHelp();
  const std::u32string text = host.designText();
  return "\"" + showEscaped(text, session.unicode() ? TextMode::Unicode : TextMode::Latin1) + "\" (" +
         std::to_string(host.designCount()) + " characters)";
}

}  // namespace

std::string describePlugin(Session& session) {
  const Plugin& plugin = session.plugin();
  const auto& res = plugin.resources();
  const bool unicode = session.unicode();
  std::string out;
  auto line = [&out](const std::string& label, const std::string& value) {
    out += label;
    out.append(label.size() < 14 ? 14 - label.size() : 1, ' ');
    out += value + "\n";
  };
  line("file:", plugin.path().string());
  line("build:", std::string(unicode ? "Unicode" : "8-bit") + " (tag " + res.tag + ", host characters of " +
                     plural(static_cast<std::size_t>(plugin.width()), "byte", "bytes") + ")");
  line("version:", versionText(res.fileVersion) + " (\"" + res.fileVersionText + "\"), product " +
                       versionText(res.productVersion) + " (\"" + res.productVersionText + "\")");
  line("description:", res.fileDescription);
  line("names:", "internal \"" + res.internalName + "\", original \"" + res.originalName + "\", product \"" +
                     res.productName + "\"");
  line("group:", res.group);
  line("commands:", std::to_string(res.commands.size()) + ", declared from string " +
                        std::to_string(res.firstDeclaration));
  for (const auto& command : res.commands) {
    std::string parameters;
    for (std::size_t i = 0; i < command.parameters.size(); ++i) {
      if (i != 0) parameters += ", ";
      parameters += command.optional[i] ? "[" + command.parameters[i] + "]" : command.parameters[i];
    }
    out += "  " + std::to_string(command.id) + " " + command.name + "(" + parameters + ")\n";
    std::string where = "string " + std::to_string(command.stringNumber) + ", number " + command.number;
    const char* sub = subcommandName(command.id);
    if (*sub != '\0') where += "; run it with: corvane " + std::string(sub);
    out += "      " + where + "\n";
    out += "      parameter help: " + designHelp(session, command.id, kCvDesignParamHelp) + "\n";
    out += "      return help:    " + designHelp(session, command.id, kCvDesignReturnHelp) + "\n";
  }
  return out;
}

// --- warnings ----------------------------------------------------------------------

void warn(const std::string& message) { std::fprintf(stderr, "corvane: warning: %s\n", message.c_str()); }

}  // namespace corvane::cli
