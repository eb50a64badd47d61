// main.cpp - corvane: the plug-in's commands run on files from the command
// line, through the same host and entry point as the tests, so that what it
// prints is what the host application would get.
#include "CellEscaping.h"
#include "Commands.h"
#include "CsvTable.h"
#include "Encoding.h"
#include "Escapes.h"
#include "Failure.h"
#include "Files.h"
#include "FormatFile.h"
#include "PluginLocator.h"
#include "Progress.h"
#include "Streaming.h"
#include "Transcoder.h"

#include <CLI/CLI.hpp>

#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <thread>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace corvane::cli {
namespace {

// The host hands the plug-in at most this much of a format string.
constexpr std::size_t kFormatMaximum = kCvFormatStringChars;

const char* const kFormatKeys[] = {"row-prefix", "row-suffix", "row-delim", "col-prefix",
                                   "col-suffix", "col-delim",  "before",    "after"};

struct Options {
  // every command
  std::string input, output, build = "unicode", plugin, progress = "auto";
  bool rawBytes = false;
  // running in batches
  std::size_t jobs = 0, batchRows = StreamOptions{}.batchRows, batchBytes = StreamOptions{}.batchBytes;
  std::string encoding;
  CLI::Option* buildOption = nullptr;
  // lists
  bool tsv = false, noHeader = false;
  std::string lineEnd, separator, ragged;
  std::string columns, columnsFrom;
  // the delimited commands
  std::string delim;
  CLI::Option* delimOption = nullptr;
  CLI::Option* separatorOption = nullptr;
  // the formatted commands
  std::string formatFile, escape;
  std::map<std::string, std::string> format;
  std::map<std::string, CLI::Option*> formatOptions;
};

// --- options ----------------------------------------------------------------------

void addCommonOptions(CLI::App& sub, Options& o, bool files = true) {
  if (files) {
    sub.add_option("-i,--input", o.input, "Read this file instead of standard input")->type_name("FILE");
    sub.add_option("-o,--output", o.output,
                   "Write this file instead of standard output; on failure it is left as it was")
        ->type_name("FILE");
  }
  o.buildOption = sub.add_option("--build", o.build,
                                 "Which plug-in build runs the command: unicode (CorvaneU, code points) or "
                                 "8bit (Corvane, Latin-1)")
                      ->check(CLI::IsMember({"unicode", "8bit"}))
                      ->type_name("BUILD")
                      ->capture_default_str();
  sub.add_option("--plugin", o.plugin, "Run this plug-in file instead of the one --build names")
      ->type_name("FILE");
  if (!files) return;
  auto* raw = sub.add_flag("--raw-bytes", o.rawBytes,
                           "Pass every byte unchanged as one character, in and out, instead of reading and "
                           "writing UTF-8");
  sub.add_option("--encoding", o.encoding,
                 "The encoding of the files read and written, any name iconv knows: windows-1252, latin1, "
                 "utf-16 (with its byte order mark), ... (default UTF-8)")
      ->type_name("NAME")
      ->excludes(raw);
  sub.add_option(
         "--progress", o.progress,
         "Show progress on standard error: auto (on a terminal, for jobs that take a while), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}))
      ->type_name("WHEN")
      ->capture_default_str();
  sub.add_option("-j,--jobs", o.jobs,
                 "Run batches on this many plug-in instances side by side (default: one per processor core); "
                 "the output is the same")
      ->check(CLI::Range(std::size_t{1}, std::size_t{256}))
      ->type_name("N");
  sub.add_option(
         "--batch-rows", o.batchRows,
         "At most this many rows go to the plug-in in one call; the output is the same whatever the batch")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 30))
      ->type_name("N")
      ->capture_default_str();
  sub.add_option("--batch-bytes", o.batchBytes,
                 "About this many bytes of CSV or of text go to the plug-in in one call")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 30))
      ->type_name("N")
      ->capture_default_str();
}

void addListFileOptions(CLI::App& sub, Options& o, bool writes) {
  auto* tsv = sub.add_flag("--tsv", o.tsv,
                           "Tab-separated values without quotes: a tab, line break or backslash in a cell "
                           "is \\t, \\n, \\r or \\\\");
  o.separatorOption = sub.add_option("--separator", o.separator,
                                     "The character between the cells of a CSV record (default ,)")
                          ->type_name("CHAR")
                          ->excludes(tsv);
  sub.add_flag("--no-header", o.noHeader,
               writes ? "Write no header row (the names still come from --columns or --columns-from)"
                      : "The first record is data: the column names come from --columns or --columns-from");
  if (writes)
    sub.add_option("--line-end", o.lineEnd,
                   "How records end: lf or crlf (default: as the --columns-from file's, else lf)")
        ->check(CLI::IsMember({"crlf", "lf"}))
        ->type_name("END");
  else
    sub.add_option("--ragged", o.ragged,
                   "A record of fewer cells than the header: pad gives it empty cells; truncate does that "
                   "and also drops the surplus of a longer record (default: an error)")
        ->check(CLI::IsMember({"pad", "truncate"}))
        ->type_name("HOW");
}

void addColumnOptions(CLI::App& sub, Options& o) {
  auto* names = sub.add_option("--columns", o.columns, "The list's column names, separated by commas")
                    ->type_name("NAMES");
  auto* from =
      sub.add_option(
             "--columns-from", o.columnsFrom,
             "Take the column names from the header row of this CSV file (TSV when its name ends in .tsv)")
          ->type_name("FILE");
  names->excludes(from);
  from->excludes(names);
}

void addDelimiterOption(CLI::App& sub, Options& o) {
  o.delimOption = sub.add_option("--delim", o.delim,
                                 "The delimiter character; without it the command uses character 252 (\\xFC)")
                      ->type_name("CHAR");
}

void addFormatOptions(CLI::App& sub, Options& o, bool parsing) {
  sub.add_option("--format", o.formatFile,
                 "Read format strings from this file (key=value lines); options given here override it")
      ->type_name("FILE");
  sub.add_option("--escape", o.escape,
                 parsing ? "Unescape each cell after reading it: html, xml, json, csv or none (default: the "
                           "format file's escape=, else none)"
                         : "Escape each cell before rendering it: html, xml, json, csv or none (default: the "
                           "format file's escape=, else none)")
      ->check(CLI::IsMember({"html", "xml", "json", "csv", "none"}))
      ->type_name("KIND");
  const char* help[] = {
      "Text in front of each row",
      "Text behind each row",
      "Text between two rows",
      "Text in front of each cell, or VARIANT:p1,p2,... with one prefix per column",
      "Text behind each cell, or VARIANT:s1,s2,... with one suffix per column",
      "Text between two cells of a row",
      parsing ? "Text the input begins with, removed before the command reads it"
              : "Text written before the command's output (a table's head, say)",
      parsing ? "Text the input ends with, removed before the command reads it"
              : "Text written after the command's output",
  };
  for (std::size_t i = 0; i < 8; ++i) {
    const std::string key = kFormatKeys[i];
    o.formatOptions[key] = sub.add_option("--" + key, o.format[key], help[i])->type_name("TEXT");
  }
}

// --- from options to what the commands take -----------------------------------------

Build chosenBuild(const Options& o) { return o.build == "8bit" ? Build::EightBit : Build::Unicode; }

std::filesystem::path pluginPath(const Options& o, const std::string& positional = {}) {
  if (!positional.empty() && !o.plugin.empty() && positional != o.plugin)
    throw Failure(kExitUsage, "name the plug-in file once: as an argument or with --plugin");
  if (!positional.empty()) return positional;
  if (!o.plugin.empty()) return o.plugin;
  return findPlugin(chosenBuild(o));
}

ProgressMode progressMode(const Options& o) {
  if (o.progress == "always") return ProgressMode::Always;
  if (o.progress == "never") return ProgressMode::Never;
  return ProgressMode::Auto;
}

std::unique_ptr<Session> openSession(const Options& o, const std::string& positional = {}) {
  const auto path = pluginPath(o, positional);
  auto session = std::make_unique<Session>(path, o.rawBytes);
  const bool wantUnicode = chosenBuild(o) == Build::Unicode;
  if (o.buildOption != nullptr && o.buildOption->count() != 0 && session->unicode() != wantUnicode)
    throw Failure(kExitUsage, "--build " + o.build + " does not match " + path.string() + ", which is the " +
                                  (session->unicode() ? "Unicode" : "8-bit") + " build (tag " +
                                  session->plugin().resources().tag + ")");
  return session;
}

// --- files in their encoding -----------------------------------------------------------

bool transcodes(const Options& o) { return !isUtf8(o.encoding); }

// Fails early on an encoding iconv does not know, before any file is read.
void checkEncoding(const Options& o) {
  if (!transcodes(o)) return;
  Transcoder in(o.encoding, "UTF-8");
  Transcoder out("UTF-8", o.encoding);
}

// --- lists ---------------------------------------------------------------------------

char separator(const Options& o) {
  if (o.tsv) return '\t';
  if (o.separatorOption == nullptr || o.separatorOption->count() == 0) return ',';
  const std::u32string value = unescape(o.separator, TextMode::Unicode, "--separator");
  if (value.size() != 1)
    throw Failure(kExitUsage, "--separator must be one character, not " + std::to_string(value.size()));
  if (value[0] >= 0x80)
    throw Failure(kExitUsage, "--separator: " + describeCharacter(value[0]) +
                                  " is not an ASCII character, which a CSV separator must be");
  if (value[0] == U'"' || value[0] == U'\r' || value[0] == U'\n')
    throw Failure(kExitUsage, "--separator: a quote or a line break cannot separate cells");
  return static_cast<char>(value[0]);
}

Ragged raggedRows(const Options& o) {
  if (o.ragged == "pad") return Ragged::Pad;
  if (o.ragged == "truncate") return Ragged::Truncate;
  return Ragged::Refuse;
}

// `seen`: how the table the program read ended its lines, when it read one.
CsvDialect dialect(const Options& o, std::optional<LineEnd> seen = std::nullopt) {
  CsvDialect d;
  d.delimiter = separator(o);
  d.tsv = o.tsv;
  d.header = !o.noHeader;
  d.ragged = raggedRows(o);
  if (o.lineEnd.empty())
    d.lineEnd = seen.value_or(LineEnd::Lf);
  else
    d.lineEnd = o.lineEnd == "lf" ? LineEnd::Lf : LineEnd::CrLf;
  return d;
}

StreamOptions streamOptions(const Options& o) {
  StreamOptions stream;
  stream.input = o.input;
  stream.output = o.output;
  stream.jobs = o.jobs != 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency());
  stream.batchRows = o.batchRows;
  stream.batchBytes = o.batchBytes;
  stream.progress = progressMode(o);
  if (transcodes(o)) stream.encoding = o.encoding;
  return stream;
}

Job baseJob(const Options& o, const Session& session) {
  Job job;
  job.mode = session.mode();
  job.unicode = session.unicode();
  job.dialect = dialect(o);
  return job;
}

std::vector<std::u32string> listColumns(const Options& o, TextMode mode,
                                        std::optional<LineEnd>* seen = nullptr);

// The columns of a list read without its header row.
void checkListColumns(const Options& o, Job& job) {
  if (!o.noHeader && (!o.columns.empty() || !o.columnsFrom.empty()))
    throw Failure(kExitUsage,
                  std::string(o.columns.empty() ? "--columns-from" : "--columns") +
                      " names the columns of a CSV without a header row: add --no-header, or leave "
                      "it out to take the names from the header");
  if (o.noHeader) job.dialect.columns = listColumns(o, job.mode);
}

std::vector<std::u32string> listColumns(const Options& o, TextMode mode, std::optional<LineEnd>* seen) {
  if (!o.columnsFrom.empty()) {
    // The header file is CSV whatever the output is, unless its name says TSV.
    CsvDialect header;
    header.delimiter = o.tsv ? ',' : separator(o);
    const std::string& name = o.columnsFrom;
    if (name.size() >= 4 &&
        (name.compare(name.size() - 4, 4, ".tsv") == 0 || name.compare(name.size() - 4, 4, ".tab") == 0)) {
      header.delimiter = '\t';
      header.tsv = true;
    }
    std::optional<LineEnd> ends;
    auto columns = readCsvHeaderFile(name, header, mode, transcodes(o) ? o.encoding : std::string(), &ends);
    if (seen != nullptr) *seen = ends;
    return columns;
  }
  if (o.columns.empty())
    throw Failure(kExitUsage, "name the list's columns with --columns a,b,c or --columns-from FILE");
  const std::u32string names = unescape(o.columns, mode, "--columns");
  std::vector<std::u32string> columns = corvane::host::split(names, U',');
  checkColumnNames(columns, mode, kExitUsage, "--columns");
  return columns;
}

std::optional<std::u32string> delimiter(const Options& o, TextMode mode) {
  if (o.delimOption == nullptr || o.delimOption->count() == 0) return std::nullopt;
  std::u32string value = unescape(o.delim, mode, "--delim");
  if (value.size() > 1)
    throw Failure(kExitUsage, "--delim must be one character, not " + std::to_string(value.size()) +
                                  " (the command uses only the first)");
  return value;
}

struct FullFormat {
  Format format;
  std::u32string before, after;
  std::string beforeOrigin, afterOrigin;
  CellEscape escape = CellEscape::None;
};

FullFormat readFormat(const Options& o, TextMode mode) {
  FormatValues file;
  if (!o.formatFile.empty()) file = readFormatFile(o.formatFile);
  FullFormat out;
  std::u32string* slots[] = {
      &out.format.rowPrefix, &out.format.rowSuffix, &out.format.rowDelim, &out.format.colPrefix,
      &out.format.colSuffix, &out.format.colDelim,  &out.before,          &out.after};
  for (std::size_t i = 0; i < 8; ++i) {
    const std::string key = kFormatKeys[i];
    std::string raw, origin = "--" + key;
    if (o.formatOptions.at(key)->count() != 0) {
      raw = o.format.at(key);
    } else if (auto at = file.find(key); at != file.end()) {
      raw = at->second.text;
      origin = at->second.origin + " (" + key + ")";
    }
    *slots[i] = unescape(raw, mode, origin);
    if (i < 6 && slots[i]->size() > kFormatMaximum)
      throw Failure(kExitUsage, origin + " has " + std::to_string(slots[i]->size()) +
                                    " characters; the plug-in reads at most " +
                                    std::to_string(kFormatMaximum) + " of a format string");
    if (i == 6) out.beforeOrigin = origin;
    if (i == 7) out.afterOrigin = origin;
  }
  if (!o.escape.empty()) {
    out.escape = *cellEscapeNamed(o.escape);
  } else if (auto at = file.find("escape"); at != file.end()) {
    std::string_view name = at->second.text;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    const auto kind = cellEscapeNamed(name);
    if (!kind)
      throw Failure(kExitUsage,
                    at->second.origin + ": escape=" + at->second.text + " is none of " + kCellEscapeNames);
    out.escape = *kind;
  }
  return out;
}

// --- the subcommands ----------------------------------------------------------------

void runInfo(const Options& o, const std::string& positional) {
  auto session = openSession(o, positional);
  const std::string text = describePlugin(*session);
  writeOutput("", text);
}

void runListToStringCommand(const Options& o) {
  checkEncoding(o);
  auto session = openSession(o);
  Job job = baseJob(o, *session);
  job.delimiter = delimiter(o, job.mode);
  checkListColumns(o, job);
  streamListToString(*session, streamOptions(o), std::move(job));
}

void runStringToListCommand(const Options& o) {
  checkEncoding(o);
  auto session = openSession(o);
  Job job = baseJob(o, *session);
  job.delimiter = delimiter(o, job.mode);
  std::optional<LineEnd> seen;
  job.columns = listColumns(o, job.mode, &seen);
  job.dialect = dialect(o, seen);
  streamStringToList(*session, streamOptions(o), std::move(job));
}

void runListToFormattedCommand(const Options& o) {
  checkEncoding(o);
  auto session = openSession(o);
  Job job = baseJob(o, *session);
  FullFormat format = readFormat(o, job.mode);
  job.format = format.format;
  job.escape = format.escape;
  checkListColumns(o, job);
  streamListToFormatted(*session, streamOptions(o), std::move(job), format.before, format.after);
}

void runFormattedToListCommand(const Options& o) {
  checkEncoding(o);
  auto session = openSession(o);
  Job job = baseJob(o, *session);
  FullFormat format = readFormat(o, job.mode);
  job.format = format.format;
  job.escape = format.escape;
  std::optional<LineEnd> seen;
  job.columns = listColumns(o, job.mode, &seen);
  job.dialect = dialect(o, seen);
  streamFormattedToList(*session, streamOptions(o), std::move(job), format.before, format.after,
                        format.beforeOrigin, format.afterOrigin);
}

// --- help texts -----------------------------------------------------------------------

const char* const kMainFooter = R"(Option values take C-style escapes: \n \r \t \\ \" \xHH \u{H...}.
Write --option=VALUE for a value that begins with '-'.
Lists and texts are read and written as UTF-8 unless --encoding names another encoding
(format files are always UTF-8).

Exit status: 0 done; 1 the plug-in refused the input with a non-zero result code;
2 bad options; 3 bad input data (CSV or TSV, bytes invalid in the encoding, a character
the build or the output's encoding cannot hold, a cell escape that does not decode);
4 a file could not be read or written, the plug-in file could not be found or loaded,
or memory ran out (the plug-in's result codes for that included).

Inputs of any size are read in batches that run on one plug-in instance per job
(--jobs, one per core by default); the output is written in input order as it is made
and is byte for byte what one call over the whole input gives.

Run 'corvane COMMAND --help' for a command's options and an example.

Example:
  corvane list-to-formatted --format examples/formats/markdown.fmt -i examples/elements.csv)";

const char* const kListToStringFooter =
    R"(Every cell of the list, row by row, is followed by the delimiter, the last one too.
The plug-in reads at most 255 characters of a cell.

Example:
  corvane list-to-string --delim '|' -i examples/elements.csv
  1|H|Hydrogen|Hydrogène|1.008|2|He|Helium|Hélium|4.0026|...

Other lists:
  corvane list-to-string --tsv -i export.tsv                    tab-separated, no quotes
  corvane list-to-string --separator ';' --encoding windows-1252 -i sheet.csv
  corvane list-to-string --no-header --columns id,name -i rows.csv
  corvane list-to-string --ragged pad -i uneven.csv             short rows get empty cells)";

const char* const kStringToListFooter =
    R"(Every delimiter ends a cell; cells fill the columns row by row, and only whole rows
are kept.  The result is CSV with the column names as its header.

Example:
  printf 'H|1|He|2|' | corvane string-to-list --delim '|' --columns symbol,number
  symbol,number
  H,1
  He,2

The CSV ends its lines as the --columns-from file does (LF otherwise); other lists:
  corvane string-to-list --tsv --columns-from export.tsv -i text.txt
  corvane string-to-list --separator ';' --line-end crlf --columns a,b -i text.txt
  corvane string-to-list --no-header --encoding utf-16 --columns a,b -i text.txt)";

const char* const kListToFormattedFooter =
    R"(Each row is row-prefix, its cells and row-suffix; each cell is col-prefix, the value and
col-suffix; col-delim stands between cells and row-delim between rows; the cells are escaped
as --escape (or the format file's escape=) says, so that any text fits the document.
Row and column delimiters must differ.

Examples:
  corvane list-to-formatted --format examples/formats/html.fmt -i examples/elements.csv
  corvane list-to-formatted --escape xml --row-prefix '<row><c>' --row-suffix '</c></row>' \
      --row-delim '\n' --col-delim '</c><c>' -i examples/elements.csv
  corvane list-to-formatted --row-prefix '(' --row-suffix ')' --row-delim '\n' \
      --col-delim ', ' -i examples/elements.csv
  (1, H, Hydrogen, Hydrogène, 1.008)
  (2, He, Helium, Hélium, 4.0026)
  ...)";

const char* const kFormattedToListFooter =
    R"(Reads back what list-to-formatted writes with the same format strings and escaping,
as long as no value holds a delimiter or begins with its column's prefix (escaping keeps
them out).  Row and column delimiters must not be empty.  The result is CSV with the
column names as its header.

Example:
  corvane list-to-formatted --format examples/formats/html.fmt -i examples/elements.csv |
    corvane formatted-to-list --format examples/formats/html.fmt \
      --columns-from examples/elements.csv
  corvane formatted-to-list --escape json --row-delim '\n' --col-delim '","' \
      --row-prefix '["' --row-suffix '"]' --columns a,b -i rows.txt)";

const char* const kInfoFooter = R"(Example:
  corvane info --build 8bit
  corvane info build/release/plugins/CorvaneU.so)";

int run(int argc, char** argv) {
  // A reader that goes away (| head) is a write error with a message, not
  // a silent death.
  std::signal(SIGPIPE, SIG_IGN);
  // Batches take and give back blocks of megabytes again and again: keep
  // them in the heap rather than mapping fresh pages for every batch.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
  CLI::App app{"corvane - run the plug-in's commands on files, as the host application runs them"};
  app.name("corvane");
  app.footer(kMainFooter);
  app.require_subcommand(1);
  app.get_formatter()->column_width(34);
  // Each command keeps its own options: several bind options of the same name.
  Options infoOptions, ltsOptions, stlOptions, ltfOptions, ftlOptions;
  std::string positionalPlugin;

  auto* info =
      app.add_subcommand("info", "What a host learns from a plug-in file: commands, version, design help");
  info->add_option("PLUGIN", positionalPlugin, "The plug-in file (default: the one --build names)");
  addCommonOptions(*info, infoOptions, false);
  info->footer(kInfoFooter);

  auto* lts = app.add_subcommand("list-to-string", "ListToString: a list (CSV) into a delimited text");
  addCommonOptions(*lts, ltsOptions);
  addListFileOptions(*lts, ltsOptions, false);
  addColumnOptions(*lts, ltsOptions);
  addDelimiterOption(*lts, ltsOptions);
  lts->footer(kListToStringFooter);

  auto* stl = app.add_subcommand("string-to-list", "StringToList: a delimited text into a list (CSV)");
  addCommonOptions(*stl, stlOptions);
  addListFileOptions(*stl, stlOptions, true);
  addColumnOptions(*stl, stlOptions);
  addDelimiterOption(*stl, stlOptions);
  stl->footer(kStringToListFooter);

  auto* ltf =
      app.add_subcommand("list-to-formatted", "ListToFormattedString: a list (CSV) into a formatted text");
  addCommonOptions(*ltf, ltfOptions);
  addListFileOptions(*ltf, ltfOptions, false);
  addColumnOptions(*ltf, ltfOptions);
  addFormatOptions(*ltf, ltfOptions, false);
  ltf->footer(kListToFormattedFooter);

  auto* ftl =
      app.add_subcommand("formatted-to-list", "FormattedStringToList: a formatted text into a list (CSV)");
  addCommonOptions(*ftl, ftlOptions);
  addListFileOptions(*ftl, ftlOptions, true);
  addColumnOptions(*ftl, ftlOptions);
  addFormatOptions(*ftl, ftlOptions, true);
  ftl->footer(kFormattedToListFooter);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "corvane: %s\nRun 'corvane --help' or 'corvane COMMAND --help' for the options.\n",
                 e.what());
    return kExitUsage;
  }

  try {
    if (info->parsed())
      runInfo(infoOptions, positionalPlugin);
    else if (lts->parsed())
      runListToStringCommand(ltsOptions);
    else if (stl->parsed())
      runStringToListCommand(stlOptions);
    else if (ltf->parsed())
      runListToFormattedCommand(ltfOptions);
    else if (ftl->parsed())
      runFormattedToListCommand(ftlOptions);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "corvane: %s\n", failure.what());
    return failure.status();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "corvane: out of memory\n");
    return kExitFiles;
  }
  return kExitOk;
}

}  // namespace
}  // namespace corvane::cli

int main(int argc, char** argv) { return corvane::cli::run(argc, argv); }
