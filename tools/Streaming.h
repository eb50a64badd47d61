// Streaming.h - the four commands run on files of any size.
//
// The input is read in batches: a number of records of a CSV file, or a
// stretch of text that ends where the command's rows end.  Each batch runs
// through a plug-in instance of its own host; with several jobs the batches
// run side by side, one host and instance per worker, and their outputs are
// written in input order as soon as each is ready.  What is written is what
// one call of the command over the whole input gives, byte for byte:
//   - list-to-string and list-to-formatted: the batches' texts one after the
//     other (rowDelim between two formatted batches; --before and --after
//     once);
//   - string-to-list: batches that end after a whole number of rows' worth
//     of delimiters;
//   - formatted-to-list: batches cut behind a row separator where a check
//     proves that the whole text reads the same rows (FormattedSplit.h);
//     where it cannot, the batch grows until it can, or to the end of the
//     text, or stops with a message when that would take more than one
//     call can hold.
// Files in another encoding are converted a read block at a time, in and
// out; lists are read and written in the job's dialect (TSV, a separator,
// no header row, ragged rows, whose changes are counted over all batches),
// and cells are escaped or unescaped in the workers.
// Memory stays bounded by the batch size and the number of jobs.
#ifndef CORVANE_TOOLS_STREAMING_H
#define CORVANE_TOOLS_STREAMING_H

#include "Commands.h"
#include "Progress.h"

#include <cstddef>
#include <string>

namespace corvane::cli {

struct StreamOptions {
  std::string input, output;
  std::size_t jobs = 1;
  std::size_t batchRows = 50'000;    // rows (records, or rows of a text) per batch at most
  std::size_t batchBytes = 1 << 18;  // bytes of CSV or of text per batch, about
  ProgressMode progress = ProgressMode::Auto;
  std::string encoding;  // of the input and output files; empty for UTF-8
};

// The most bytes of input one batch may grow to when the input holds no
// place to cut it: a formatted text whose rows cannot be proven,
// a text without a whole row of delimiters, one huge record.  More stops
// the run with a message.
constexpr std::size_t kMaxBatchBytes = std::size_t{1} << 28;

// The header row of a CSV file, read without the rest of the file.
// `encoding` as StreamOptions; `lineEnd` gets how the header row ends.
std::vector<std::u32string> readCsvHeaderFile(const std::string& path, const CsvDialect& dialect,
                                              TextMode mode, const std::string& encoding,
                                              std::optional<LineEnd>* lineEnd);

// `job` holds the mode, delimiter, format and the dialect of the lists
// written; the columns of the lists read come from the input's header.
void streamListToString(Session& session, const StreamOptions& options, Job job);
void streamListToFormatted(Session& session, const StreamOptions& options, Job job,
                           const std::u32string& before, const std::u32string& after);
void streamStringToList(Session& session, const StreamOptions& options, Job job);
// `beforeOrigin` and `afterOrigin` name where --before and --after came from.
void streamFormattedToList(Session& session, const StreamOptions& options, Job job,
                           const std::u32string& before, const std::u32string& after,
                           const std::string& beforeOrigin, const std::string& afterOrigin);

}  // namespace corvane::cli

#endif
