// Commands.cpp - parameters in, execute message, result and output back.
#include "Commands.h"

#include "Escapes.h"
#include "Failure.h"

#include <algorithm>
#include <cstdio>

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
constexpr std::size_t kListToStringCell = 255;
constexpr std::size_t kListToFormattedCell = 32000;
constexpr std::size_t kVariantEntriesUsed = 128;
constexpr char32_t kDefaultDelimiter = 252;
constexpr std::u32string_view kVariantKeyword = U"VARIANT:";

std::string plural(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string quoted(std::u32string_view text, TextMode mode) { return "\"" + showEscaped(text, mode) + "\""; }

// Cells longer than the command reads are cut by the host; say so.
void warnLongCells(const Table& table, std::size_t limit, const char* command, TextMode mode) {
  std::size_t count = 0;
  std::string first;
  for (std::size_t r = 0; r < table.rows.size(); ++r) {
    for (std::size_t c = 0; c < table.rows[r].size(); ++c) {
      if (table.rows[r][c].size() <= limit) continue;
      if (count++ == 0)
        first = "line " + std::to_string(table.rowLines.empty() ? r + 2 : table.rowLines[r]) + ", column " +
                quoted(table.columns[c], mode);
    }
  }
  if (count != 0)
    warn(plural(count, "cell is", "cells are") + " longer than the " + std::to_string(limit) +
         " characters " + command + " reads of a cell and " + (count == 1 ? "was" : "were") +
         " cut (first: " + first + ")");
}

void warnVariantCount(const std::u32string& text, const char* option, std::size_t columns) {
  const std::size_t entries = variantEntries(text);
  if (entries == 0 || columns == 0) return;
  if (entries > kVariantEntriesUsed)
    warn(std::string(option) + " lists " + std::to_string(entries) +
         " entries; the plug-in uses the first 128");
  else if (entries < columns)
    warn(std::string(option) + " lists " + plural(entries, "entry", "entries") + " for " +
         plural(columns, "column", "columns") + "; the columns past the list get none");
  else if (entries > columns)
    warn(std::string(option) + " lists " + plural(entries, "entry", "entries") + " for " +
         plural(columns, "column", "columns") + "; the extra entries are not used");
}

ResultContext contextFor(CommandId command, const std::vector<std::u32string>& columns, const Session& session) {
  ResultContext context;
  context.command = command;
  context.columns = columns.size();
  for (const auto& name : columns) {
    context.longestName = std::max(context.longestName, name.size());
    context.definitionChars += name.size() + (context.definitionChars != 0 ? 1 : 0);
  }
  context.unicodeBuild = session.unicode();
  context.mode = session.mode();
  return context;
}

// Runs one command and gives its result code.  The cells it moves are
// counted from here on, for progress and for the check below.
int execute(Session& session, CommandId id, int parameters, std::function<std::uint64_t()> total) {
  Host& host = session.host();
  host.resetStats();
  ProgressMeter meter(host, subcommandName(static_cast<std::int32_t>(id)), session.progress(), std::move(total));
  host.setCommand(static_cast<std::int32_t>(id));
  host.setParamCount(parameters);
  host.execute();
  meter.finish();
  return host.result();
}

void checkResult(const ResultContext& context) {
  if (context.code != kCvResultOk) throw Failure(kExitResult, describeResult(context));
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
                                   groupDigits(static_cast<std::uint64_t>(host.limits().maxLines)) + " lines)");
}

std::uint64_t cellsOf(const Host& host, std::int16_t field) {
  if (!host.isList(field)) return 0;
  const corvane::host::CellList& list = host.cells(field);
  return static_cast<std::uint64_t>(list.rowCount()) * list.columnCount();
}

// StringToList keeps only whole rows of K cells: say what it drops.
void warnDroppedTail(const std::u32string& text, char32_t delimiter, std::size_t columns, TextMode mode) {
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
    if (after <= 16) what += " (" + quoted(std::u32string_view(text).substr(text.size() - after), mode) + ")";
    warn(what + " after the last delimiter " + (after == 1 ? "was" : "were") +
         " dropped: every cell must be followed by the delimiter");
  }
}

}  // namespace

// --- session -------------------------------------------------------------------

Session::Session(const std::filesystem::path& pluginPath, bool rawBytes, ProgressMode progress)
    : mode_(TextMode::Unicode), progress_(progress) {
  std::string error;
  plugin_ = Plugin::open(pluginPath, &error);
  if (!plugin_) {
    const std::string path = pluginPath.string();
    if (error.compare(0, path.size() + 2, path + ": ") == 0) error.erase(0, path.size() + 2);
    throw Failure(kExitFiles, "cannot load the plug-in " + path + ": " + error);
  }
  mode_ = rawBytes ? TextMode::Bytes : unicode() ? TextMode::Unicode : TextMode::Latin1;
  host_ = std::make_unique<Host>(*plugin_);
  host_->load();
}

Session::~Session() {
  host_.reset();  // unloads before the library goes
  plugin_.reset();
}

bool Session::unicode() const { return plugin_->width() == CharWidth::Unicode; }

// --- helpers -------------------------------------------------------------------

std::u32string firstColumnPrefix(const std::u32string& colPrefix) {
  if (colPrefix.compare(0, kVariantKeyword.size(), kVariantKeyword) != 0) return colPrefix;
  const std::size_t comma = colPrefix.find(U',', kVariantKeyword.size());
  return colPrefix.substr(kVariantKeyword.size(),
                          comma == std::u32string::npos ? std::u32string::npos : comma - kVariantKeyword.size());
}

std::size_t variantEntries(const std::u32string& text) {
  if (text.compare(0, kVariantKeyword.size(), kVariantKeyword) != 0) return 0;
  return 1 + static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(kVariantKeyword.size()),
                                                 text.end(), U','));
}

// --- the four commands -----------------------------------------------------------

std::u32string runListToString(Session& session, Table table, const std::optional<std::u32string>& delimiter) {
  Host& host = session.host();
  warnLongCells(table, kListToStringCell, "list-to-string", session.mode());
  ResultContext context = contextFor(CommandId::ListToString, table.columns, session);
  host.setList(kParam1, std::move(table.columns), std::move(table.rows));
  host.setText(kParam2, U"");
  if (delimiter) host.setText(kParam3, *delimiter);
  context.code = execute(session, CommandId::ListToString, delimiter ? 3 : 2,
                         [&host] { return cellsOf(host, kParam1); });
  checkResult(context);
  return host.text(kParam2);
}

const List& runStringToList(Session& session, std::u32string text, std::vector<std::u32string> columns,
                            const std::optional<std::u32string>& delimiter) {
  Host& host = session.host();
  const char32_t used = delimiter && !delimiter->empty() ? delimiter->front() : kDefaultDelimiter;
  warnDroppedTail(text, used, columns.size(), session.mode());
  ResultContext context = contextFor(CommandId::StringToList, columns, session);
  context.emptyInput = text.empty();
  host.setText(kParam1, std::move(text));
  host.setList(kParam2, std::move(columns));
  if (delimiter) host.setText(kParam3, *delimiter);
  context.code = execute(session, CommandId::StringToList, delimiter ? 3 : 2,
                         [&host] { return cellsOf(host, kParam2); });
  checkResult(context);
  checkCellsStored(host);
  return host.list(kParam2);
}

namespace {

void setFormat(Host& host, const Format& format) {
  const std::u32string* strings[] = {&format.rowPrefix, &format.rowSuffix, &format.rowDelim,
                                     &format.colPrefix, &format.colSuffix, &format.colDelim};
  for (std::int16_t i = 0; i < 6; ++i) host.setText(static_cast<std::int16_t>(kParam3 + i), *strings[i]);
}

ResultContext formatContext(CommandId command, const Format& format, const std::vector<std::u32string>& columns,
                            const Session& session) {
  ResultContext context = contextFor(command, columns, session);
  context.rowDelim = format.rowDelim;
  context.colDelim = format.colDelim;
  context.rowStart = format.rowPrefix + firstColumnPrefix(format.colPrefix);
  return context;
}

}  // namespace

std::u32string runListToFormatted(Session& session, Table table, const Format& format) {
  Host& host = session.host();
  warnLongCells(table, kListToFormattedCell, "list-to-formatted", session.mode());
  warnVariantCount(format.colPrefix, "--col-prefix", table.columns.size());
  warnVariantCount(format.colSuffix, "--col-suffix", table.columns.size());
  ResultContext context =
      formatContext(CommandId::ListToFormatted, format, table.columns, session);
  host.setList(kParam1, std::move(table.columns), std::move(table.rows));
  host.setText(kParam2, U"");
  setFormat(host, format);
  const std::size_t rows = host.list(kParam1).rows.size();
  context.code = execute(session, CommandId::ListToFormatted, 8, [&host] { return cellsOf(host, kParam1); });
  checkResult(context);
  std::u32string text = host.text(kParam2);
  // FormattedStringToList takes a row delimiter at the very end for an
  // optional final one, so such a text does not read back as it was.
  const std::u32string& delim = format.rowDelim;
  if (rows != 0 && !delim.empty() && text.size() >= delim.size() &&
      text.compare(text.size() - delim.size(), delim.size(), delim) == 0)
    warn("the text ends with the row delimiter " + quoted(delim, session.mode()) +
         " (its last row ends with it or renders as nothing); formatted-to-list takes that for an optional "
         "final delimiter and will not read the last row back as it was");
  return text;
}

const List& runFormattedToList(Session& session, std::u32string text, std::vector<std::u32string> columns,
                               const Format& format) {
  Host& host = session.host();
  warnVariantCount(format.colPrefix, "--col-prefix", columns.size());
  warnVariantCount(format.colSuffix, "--col-suffix", columns.size());
  ResultContext context = formatContext(CommandId::FormattedToList, format, columns, session);
  context.emptyInput = text.empty();
  host.setText(kParam1, std::move(text));
  host.setList(kParam2, std::move(columns));
  setFormat(host, format);
  context.code = execute(session, CommandId::FormattedToList, 8, [&host] { return cellsOf(host, kParam2); });
  checkResult(context);
  checkCellsStored(host);
  return host.list(kParam2);
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
