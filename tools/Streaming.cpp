// Streaming.cpp - batches read in order, run side by side, written in order.
#include "Streaming.h"

#include "ByteBuffer.h"
#include "Escapes.h"
#include "Failure.h"
#include "Files.h"
#include "Simd.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace corvane::cli {

using corvane::host::CellList;
using corvane::host::Host;

namespace {

// Small enough that what is left over behind a batch's cut, and copied
// to the start of the next one, stays cheap next to the batch.
constexpr std::size_t kReadBlock = 1 << 16;

// --- batches and the workers that run them --------------------------------------

// Where a stretch of the input text begins: its line, and the characters
// of that line before it.
struct TextPlace {
  std::size_t line = 1;
  std::size_t column = 0;
};

struct Batch {
  std::size_t index = 0;
  std::size_t firstLine = 1;  // the input line the batch begins on
  std::string bytes;          // CSV records, or the text as read (UTF-8, or bytes with --raw-bytes)
  TextPlace place;            // the text: where it begins
  std::string lookahead;      // formatted-to-list: what follows a cut, as read
  std::size_t rows = 0;       // formatted-to-list: the row separators the batch holds
  bool last = false;
  bool rowless = false;        // formatted-to-list: a last stretch in which a single call finds no row
  std::uint64_t inputEnd = 0;  // bytes of input read when the batch was cut
};

struct BatchResult {
  ByteBuffer out;  // what is written
  std::size_t rows = 0;
  LongCells longCells;
  std::optional<Failure> failure;
  std::optional<std::string> uncut;               // formatted-to-list: the cut could not be proven
  std::optional<FilledRows::Fault> fault;         // formatted-to-list: a cell that does not unescape
  std::size_t paddedRows = 0, truncatedRows = 0;  // --ragged
  Batch batch;                                    // given back
};

using Work = std::function<void(Host& host, const Batch& batch, BatchResult& result)>;

BatchResult runBatch(Host& host, const Work& work, Batch batch) {
  BatchResult result;
  try {
    work(host, batch, result);
  } catch (const Failure& failure) {
    result.failure = failure;
  } catch (const std::bad_alloc&) {
    result.failure = Failure(kExitFiles, "out of memory");
  }
  result.batch = std::move(batch);
  return result;
}

// Runs batches on `jobs` workers and gives their results back in the order
// they were submitted.  With one job the batch runs on the caller's thread
// when its result is asked for.
class BatchPool {
 public:
  BatchPool(Session& session, std::size_t jobs, Work work) : session_(session), work_(std::move(work)) {
    if (jobs <= 1) return;
    for (std::size_t i = 0; i < jobs; ++i) hosts_.push_back(session.newHost());
    for (std::size_t i = 0; i < jobs; ++i) {
      Host& host = *hosts_[i];
      try {
        threads_.emplace_back([this, &host] { serve(host); });
      } catch (const std::system_error& error) {
        // No room for another thread's stack (a low ulimit -v, say): the
        // workers that started do the work, or the caller's thread alone.
        warn("only " + std::to_string(i) + " of " + std::to_string(jobs) + " jobs could be started (" +
             error.what() + "); the output is the same");
        break;
      }
    }
    hosts_.resize(threads_.size());
  }
  ~BatchPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) thread.join();
    hosts_.clear();  // unloaded before the session's plug-in goes
  }
  BatchPool(const BatchPool&) = delete;
  BatchPool& operator=(const BatchPool&) = delete;

  // Batches in flight.  Results are taken in input order, so while the
  // oldest batch runs, the other workers must find more to do in the queue:
  // two batches a worker keep them busy, and each holds about --batch-bytes.
  std::size_t capacity() const { return threads_.empty() ? 1 : 2 * threads_.size() + 1; }
  std::size_t waiting() const { return submitted_ - taken_; }

  void submit(Batch batch) {
    batch.index = submitted_++;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      todo_.push_back(std::move(batch));
    }
    ready_.notify_one();
  }

  // The result of the oldest batch not yet taken.
  BatchResult next() {
    const std::size_t index = taken_++;
    if (threads_.empty()) {
      Batch batch = std::move(todo_.front());
      todo_.pop_front();
      return runBatch(session_.host(), work_, std::move(batch));
    }
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return outOfMemory_ || done_.count(index) != 0; });
    if (done_.count(index) == 0) throw std::bad_alloc();  // a worker could not hand its result back
    BatchResult result = std::move(done_.at(index));
    done_.erase(index);
    return result;
  }

  // Runs a batch on the caller's thread, outside the queue.
  BatchResult runHere(Batch batch) { return runBatch(session_.host(), work_, std::move(batch)); }

 private:
  void serve(Host& host) {
    for (;;) {
      Batch batch;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return stop_ || !todo_.empty(); });
        if (stop_) return;
        batch = std::move(todo_.front());
        todo_.pop_front();
      }
      const std::size_t index = batch.index;
      try {
        BatchResult result = runBatch(host, work_, std::move(batch));
        std::lock_guard<std::mutex> lock(mutex_);
        done_.emplace(index, std::move(result));
      } catch (const std::bad_alloc&) {
        // No room even to report the batch's failure (its message, the
        // result's slot): the run stops as out of memory, never with an
        // exception that leaves the thread.
        std::lock_guard<std::mutex> lock(mutex_);
        outOfMemory_ = true;
      }
      finished_.notify_all();
    }
  }

  Session& session_;
  Work work_;
  std::vector<std::unique_ptr<Host>> hosts_;
  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_, finished_;
  std::deque<Batch> todo_;
  std::map<std::size_t, BatchResult> done_;
  std::size_t submitted_ = 0, taken_ = 0;
  bool stop_ = false;
  bool outOfMemory_ = false;  // a worker ran out of memory outside its batch's work
};

// Drives a run: batches from `source` into the pool, results in order to
// `consume`.  A failure of the source (bad input further on) is reported
// only after the batches before it, whose own failures come first.
void drive(BatchPool& pool, const std::function<std::optional<Batch>()>& source,
           const std::function<void(BatchResult)>& consume) {
  for (;;) {
    // Results are taken before the next batch is read, so that consume()
    // may read on from the source itself.
    while (pool.waiting() >= pool.capacity()) consume(pool.next());
    std::optional<Batch> batch;
    try {
      batch = source();
    } catch (const Failure&) {
      while (pool.waiting() != 0) {
        BatchResult result = pool.next();
        if (result.failure) throw *result.failure;
      }
      throw;
    }
    if (!batch) break;
    pool.submit(std::move(*batch));
  }
  while (pool.waiting() != 0) consume(pool.next());
}

// What --ragged pad or truncate changed, summed over the batches.
void reportRagged(std::size_t padded, std::size_t truncated, const Job& job) {
  const std::size_t changed = padded + truncated;
  if (changed == 0) return;
  std::string what;
  if (padded != 0) what = std::to_string(padded) + " padded with empty cells";
  if (truncated != 0) what += (what.empty() ? "" : ", ") + std::to_string(truncated) + " cut";
  warn(std::string("--ragged ") + (job.dialect.ragged == Ragged::Truncate ? "truncate" : "pad") +
       " changed " + std::to_string(changed) + (changed == 1 ? " row" : " rows") + " to the " +
       std::to_string(job.columns.size()) + " cells of " +
       (job.dialect.header ? "the header" : "the list's columns") + " (" + what + ")");
}

// A failure in a batch after the first says where that batch began.
[[noreturn]] void failBatch(const BatchResult& result, const std::string& input) {
  const Failure& failure = *result.failure;
  if (result.batch.index == 0 || failure.status() != kExitResult) throw failure;
  throw Failure(failure.status(), std::string(failure.what()) + " (in the batch from " + input + " line " +
                                      std::to_string(result.batch.firstLine) + " on)");
}

// The line feeds in `bytes`: sixteen bytes at a time, counted in byte lanes
// that are added up before one could overflow, since a search call a line
// would cost more than a short line.
std::size_t lineFeeds(std::string_view bytes) {
  std::size_t count = 0, i = 0;
#if defined(CORVANE_SIMD)
  const __m128i lineFeed = _mm_set1_epi8('\n'), zero = _mm_setzero_si128();
  while (bytes.size() - i >= 16) {
    __m128i lanes = zero;
    for (unsigned k = 0; k < 255 && bytes.size() - i >= 16; ++k, i += 16)
      lanes = _mm_sub_epi8(
          lanes,
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + i)), lineFeed));
    const __m128i sums = _mm_sad_epu8(lanes, zero);
    count += static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; i < bytes.size(); ++i) count += bytes[i] == '\n' ? 1 : 0;
  return count;
}

// Moves the first `end` characters of `pending` into `batch`, keeping the
// rest in `pending`: the batch takes the buffer, the rest (about a read
// block) is copied once, into a buffer as large as the last one (unless that
// grew for one huge batch), so that the next batch need not move again as
// it grows.
template <class String>
void splitOff(String& pending, std::size_t end, String& batch) {
  String rest;
  rest.reserve(std::min(pending.capacity(), 2 * pending.size()));
  rest.append(pending, end, String::npos);
  batch = std::move(pending);
  batch.resize(end);
  pending = std::move(rest);
}

// --- CSV records straight into the host's list ------------------------------------------

// The cells of the records read, written straight into a host list.
class ListSink final : public CellSink {
 public:
  explicit ListSink(CellList& list) : list_(list) {}
  char32_t* room(std::size_t most) override { return list_.cellRoom(most); }
  void cell(std::size_t length) override { list_.addCell(length); }
  void cellAt(std::size_t offset, std::size_t length) override { list_.addCellAt(offset, length); }
  void usedRoom(std::size_t characters) override { list_.useRoom(characters); }
  void endRow() override { list_.endRow(); }

 private:
  CellList& list_;
};

// Every cell of the list escaped in place; a cell that cannot be is named
// by the line its row starts on.
void escapeList(const CellEscaper& escaper, CellList& list, const std::vector<std::size_t>& rowLines,
                TextMode mode, const std::string& source) {
  if (escaper.kind() == CellEscape::None) return;
  std::u32string escaped;
  for (std::size_t r = 0; r < list.rowCount(); ++r) {
    for (std::size_t c = 0; c < list.columnCount(); ++c) {
      escaped.clear();
      if (auto problem = escaper.escape(list.cell(r, c), escaped))
        throw Failure(kExitInput, describeEscapeProblem(source, r < rowLines.size() ? rowLines[r] : r + 2,
                                                        list.columns(), c, *problem, mode));
      list.setCell(r, c, escaped);
    }
  }
}

// --- CSV in pieces ------------------------------------------------------------------

class CsvSource {
 public:
  CsvSource(InputFile& in, const CsvDialect& dialect, TextMode mode, const StreamOptions& options)
      : in_(in), dialect_(dialect), mode_(mode), options_(options) {}

  // A list without a header row: its records begin at once, after a byte
  // order mark.
  void noHeader() {
    if (mode_ == TextMode::Bytes) return;
    while (pending_.size() < 3 && in_.read(pending_, kReadBlock) != 0) {
    }
    if (pending_.compare(0, 3, "\xEF\xBB\xBF") == 0) pending_.erase(0, 3);
  }

  // The header row, read first.
  std::vector<std::u32string> header(std::optional<LineEnd>* lineEnd = nullptr) {
    std::size_t end = 0;
    bool quoted = false;
    for (;;) {
      const auto ends = findRecordEnds(std::string_view(pending_).substr(scanned_), dialect_, quoted, 1);
      if (!ends.empty()) {
        end = scanned_ + ends.front();
        scanned_ = end;
        // Blank lines before the header are no header.
        if (pending_.find_first_not_of("\r\n\xEF\xBB\xBF", 0) < end) break;
        continue;
      }
      scanned_ = pending_.size();
      if (in_.read(pending_, kReadBlock) == 0) {
        end = pending_.size();
        break;
      }
    }
    auto columns =
        readCsvHeader(std::string_view(pending_).substr(0, end), dialect_, mode_, in_.name(), &end);
    if (lineEnd != nullptr) *lineEnd = lineEndOf(pending_);
    line_ += lineFeeds(std::string_view(pending_).substr(0, end));
    pending_.erase(0, end);
    scanned_ = 0;
    inQuotes_ = false;
    return columns;
  }

  // The next piece of records, or nothing at the end of the input.
  std::optional<Batch> next() {
    for (;;) {
      if (scanned_ < pending_.size() && records_ < options_.batchRows) {
        const std::size_t most = options_.batchRows - records_;
        const auto ends =
            findRecordEnds(std::string_view(pending_).substr(scanned_), dialect_, inQuotes_, most);
        if (!ends.empty()) cut_ = scanned_ + ends.back();
        records_ += ends.size();
        scanned_ = ends.size() == most ? scanned_ + ends.back() : pending_.size();
      }
      if (records_ != 0 && (records_ >= options_.batchRows || cut_ >= options_.batchBytes)) return take(cut_);
      if (eof_) {
        if (pending_.empty()) return std::nullopt;
        return take(pending_.size());
      }
      if (pending_.size() > kMaxBatchBytes)
        throw Failure(kExitInput, in_.name() + ": line " + std::to_string(line_) +
                                      ": a record of more than " + groupDigits(kMaxBatchBytes) +
                                      " bytes, more than one batch may hold");
      if (in_.read(pending_, kReadBlock) == 0) eof_ = true;
    }
  }

 private:
  Batch take(std::size_t end) {
    Batch batch;
    batch.firstLine = line_;
    batch.inputEnd = in_.position() - std::min<std::uint64_t>(in_.position(), pending_.size() - end);
    splitOff(pending_, end, batch.bytes);
    line_ += lineFeeds(batch.bytes);
    scanned_ -= std::min(scanned_, end);
    cut_ = 0;
    records_ = 0;
    return batch;
  }

  InputFile& in_;
  CsvDialect dialect_;
  TextMode mode_;
  const StreamOptions& options_;
  std::string pending_;
  std::size_t scanned_ = 0;  // bytes of pending_ looked at for record ends
  std::size_t cut_ = 0;      // the last record end found
  std::size_t records_ = 0;  // records ending before cut_
  std::size_t line_ = 1;     // the line pending_ begins on
  bool inQuotes_ = false;
  bool eof_ = false;
};

// --- text, read as bytes and decoded by the worker that runs it --------------------------

bool startsCharacter(char byte, TextMode mode) {
  return mode == TextMode::Bytes || (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// The place just behind `bytes`, which begin at `place`.
TextPlace placeAfter(TextPlace place, std::string_view bytes, TextMode mode) {
  const std::size_t lastBreak = bytes.rfind('\n');
  if (lastBreak != std::string_view::npos) {
    place.line += lineFeeds(bytes);
    place.column = 0;
    bytes.remove_prefix(lastBreak + 1);
  }
  for (char c : bytes) place.column += startsCharacter(c, mode) ? 1 : 0;
  return place;
}

// Throws Failure (input) naming the line and character of `problem` in
// `bytes`, which begin at `place` of the input `name`.
[[noreturn]] void failDecoding(std::string_view bytes, TextPlace place, TextMode mode,
                               const DecodeProblem& problem, const std::string& name) {
  const TextPlace at = placeAfter(place, bytes.substr(0, problem.byteOffset), mode);
  throw Failure(kExitInput, name + ": line " + std::to_string(at.line) + ", character " +
                                std::to_string(at.column + 1) + ": " + problem.what);
}

// The characters of a batch's text, decoded straight into the worker's
// host, where the command takes them (the memory is the field's, reused
// from batch to batch and not filled with zeros first).  Anything the
// plug-in cannot be given throws Failure (input) naming its line and
// character.
std::u32string_view decodeBatch(Host& host, const Batch& batch, TextMode mode, const std::string& name) {
  const std::size_t size = batch.bytes.size() + kDecodeSpare;  // a character a byte at most
  char32_t* const room = commandTextRoom(host, size);
  std::size_t written = 0;
  if (auto problem = decodeText(batch.bytes, mode, room, written, size))
    failDecoding(batch.bytes, batch.place, mode, *problem, name);
  return std::u32string_view(room, written);
}

// The most bytes a character takes in the input as read.
std::size_t widestCharacter(TextMode mode) { return mode == TextMode::Bytes ? 1 : 4; }

// The length of the first `count` characters of `bytes` (all of them if
// it holds fewer).
std::size_t charactersLength(std::string_view bytes, std::size_t count, TextMode mode) {
  if (mode == TextMode::Bytes) return std::min(count, bytes.size());
  std::size_t i = 0;
  for (std::size_t seen = 0; i < bytes.size(); ++i)
    if (startsCharacter(bytes[i], mode) && seen++ == count) break;
  return i;
}

// --- writing in order -----------------------------------------------------------------------

class Writer {
 public:
  Writer(const StreamOptions& options, const char* label, const InputFile& in)
      : out_(options.output, options.encoding), progress_(label, options.progress, in.size()) {}
  void write(std::string_view bytes) { out_.write(bytes); }
  void done(std::uint64_t inputBytes) { progress_.update(inputBytes); }
  void commit(std::uint64_t inputBytes) {
    out_.commit();
    progress_.finish(inputBytes);
  }

 private:
  OutputFile out_;
  ProgressMeter progress_;
};

}  // namespace

std::vector<std::u32string> readCsvHeaderFile(const std::string& path, const CsvDialect& dialect,
                                              TextMode mode, const std::string& encoding,
                                              std::optional<LineEnd>* lineEnd) {
  InputFile in(path, encoding);
  const StreamOptions options;
  CsvSource source(in, dialect, mode, options);
  return source.header(lineEnd);
}

// --- the lists read from CSV ----------------------------------------------------------------

namespace {

// list-to-string and list-to-formatted: CSV pieces in, texts out.
void streamFromList(Session& session, const StreamOptions& options, Job job, CommandId command,
                    const std::u32string& before, const std::u32string& after) {
  InputFile in(options.input, options.encoding);
  Writer writer(options, subcommandName(static_cast<std::int32_t>(command)), in);
  CsvSource source(in, job.dialect, job.mode, options);
  if (job.dialect.header) {
    job.columns = source.header();
  } else {
    job.columns = job.dialect.columns;
    source.noHeader();
  }
  const bool formatted = command == CommandId::ListToFormatted;
  if (formatted) warnVariantCounts(job.format, job.columns.size());
  if (formatted && job.escape != CellEscape::None)
    job.escaper.emplace(job.escape, formatSeparators(job.format, job.columns.size()));

  const std::string name = in.name();
  Work work = [&job, &name, formatted](Host& host, const Batch& batch, BatchResult& result) {
    // The records go straight into the host's list, without a string a cell.
    CellList& list = listOfBatch(host, job);
    ListSink sink(list);
    const Table table =
        readCsvRecordsInto(batch.bytes, job.dialect, job.mode, name, batch.firstLine, job.columns, sink);
    result.rows = list.rowCount();
    result.paddedRows = table.paddedRows;
    result.truncatedRows = table.truncatedRows;
    if (job.escaper) escapeList(*job.escaper, list, table.rowLines, job.mode, name);
    const std::u32string_view text = formatted
                                         ? runListToFormatted(host, job, table.rowLines, result.longCells)
                                         : runListToString(host, job, table.rowLines, result.longCells);
    // Room for the most the text can take, left unset: growing the output
    // while the text is encoded would copy all of it again.  Pages reserved
    // and not written are not resident.
    result.out.resize(encodedMost(text.size(), job.mode) + kEncodeRoomSpare);
    result.out.resize(encodeTextAt(text, job.mode, result.out.data()));
  };

  const std::string rowDelim = encodeText(job.format.rowDelim, job.mode);
  bool started = false;
  bool any = false;  // a batch was run: a list without records still runs once
  std::size_t rows = 0;
  std::size_t padded = 0, truncated = 0;
  std::string tail;  // the end of the text so far, to see how it ends
  LongCells longCells;
  std::uint64_t done = 0;
  auto consume = [&](BatchResult result) {
    if (result.failure) failBatch(result, name);
    if (!started) {
      writer.write(encodeText(before, job.mode));
      started = true;
    }
    if (result.rows != 0) {
      if (formatted && rows != 0) {
        writer.write(rowDelim);
        tail += rowDelim;
      }
      writer.write(view(result.out));
      tail += view(result.out)
                  .substr(result.out.size() - std::min<std::size_t>(result.out.size(), 4096));
      if (tail.size() > 8192) tail.erase(0, tail.size() - 4096);
      rows += result.rows;
    }
    longCells.add(result.longCells);
    padded += result.paddedRows;
    truncated += result.truncatedRows;
    done = std::max(done, result.batch.inputEnd);
    writer.done(done);
  };
  BatchPool pool(session, options.jobs, work);
  drive(
      pool,
      [&]() -> std::optional<Batch> {
        auto batch = source.next();
        if (!batch && !any) batch = Batch{};
        any = true;
        return batch;
      },
      consume);
  writer.write(encodeText(after, job.mode));
  warnLongCells(longCells, command);
  reportRagged(padded, truncated, job);
  // FormattedStringToList takes a row delimiter at the very end for an
  // optional final one, so such a text does not read back as it was.
  if (formatted && rows != 0 && !rowDelim.empty() && tail.size() >= rowDelim.size() &&
      tail.compare(tail.size() - rowDelim.size(), rowDelim.size(), rowDelim) == 0)
    warn("the text ends with the row delimiter \"" + showEscaped(job.format.rowDelim, job.mode) +
         "\" (its last row ends with it or renders as nothing); formatted-to-list takes that for an optional "
         "final delimiter and will not read the last row back as it was");
  writer.commit(in.position());
}

std::string csvHeader(const Job& job) {
  std::string out;
  if (!job.dialect.header) return out;
  for (std::size_t c = 0; c < job.columns.size(); ++c)
    appendCsvCell(out, job.columns[c], c == 0, job.columns.size() == 1, job.dialect, job.mode);
  appendCsvLineEnd(out, job.dialect);
  return out;
}

}  // namespace

void streamListToString(Session& session, const StreamOptions& options, Job job) {
  streamFromList(session, options, std::move(job), CommandId::ListToString, {}, {});
}

void streamListToFormatted(Session& session, const StreamOptions& options, Job job,
                           const std::u32string& before, const std::u32string& after) {
  streamFromList(session, options, std::move(job), CommandId::ListToFormatted, before, after);
}

// --- string-to-list ---------------------------------------------------------------------

void streamStringToList(Session& session, const StreamOptions& options, Job job) {
  InputFile in(options.input, options.encoding);
  Writer writer(options, "string-to-list", in);
  const std::size_t columns = job.columns.size();
  const char32_t delimiter =
      job.delimiter && !job.delimiter->empty() ? job.delimiter->front() : char32_t{kCvDefaultDelimiter};
  // The delimiter's bytes stand in the text as read only where it does.
  const std::string delimiterBytes = encodeText(std::u32string_view(&delimiter, 1), job.mode);

  std::string pending;
  std::size_t scanned = 0, delimiters = 0, cut = 0;
  TextPlace place;
  bool any = false, eof = false;
  std::string lastBytes;  // the last batch, for what it drops
  auto take = [&](std::size_t end, bool last) {
    Batch batch;
    batch.firstLine = place.line;
    batch.place = place;
    batch.last = last;
    batch.inputEnd =
        last ? in.position() : in.position() - std::min<std::uint64_t>(in.position(), pending.size() - end);
    splitOff(pending, end, batch.bytes);
    place = placeAfter(place, batch.bytes, job.mode);
    scanned -= std::min(scanned, end);
    cut = 0;
    delimiters = 0;
    any = true;
    if (last) lastBytes = batch.bytes;
    return batch;
  };
  auto source = [&]() -> std::optional<Batch> {
    for (;;) {
      // Cut after a whole number of rows' worth of delimiters.
      while (scanned < pending.size()) {
        const std::size_t at = pending.find(delimiterBytes, scanned);
        if (at == std::string::npos) {
          // A delimiter cut by the end of what was read is looked for again.
          scanned = std::max(scanned, pending.size() - std::min(pending.size(), delimiterBytes.size() - 1));
          break;
        }
        scanned = at + delimiterBytes.size();
        if (++delimiters % columns == 0) {
          cut = scanned;
          if (delimiters / columns >= options.batchRows || cut >= options.batchBytes) return take(cut, false);
        }
      }
      if (pending.size() > kMaxBatchBytes)
        throw Failure(kExitInput,
                      in.name() + ": from line " + std::to_string(place.line) + " on, " +
                          groupDigits(pending.size()) + " bytes hold no whole row of " +
                          std::to_string(columns) +
                          " delimited cells the text could be cut after, more than one batch may hold");
      if (!eof && in.read(pending, kReadBlock) == 0) eof = true;
      if (eof) {
        if (pending.empty() && any) return std::nullopt;
        if (!any || !pending.empty()) return take(pending.size(), true);
        return std::nullopt;
      }
    }
  };
  const std::string name = in.name();
  Work work = [&job, &name](Host& host, const Batch& batch, BatchResult& result) {
    FilledRows filled = runStringToList(host, job, decodeBatch(host, batch, job.mode, name));
    result.rows = filled.rows;
    result.out = std::move(filled.csv);
  };
  bool started = false;
  std::uint64_t done = 0;
  auto consume = [&](BatchResult result) {
    if (result.failure) failBatch(result, name);
    if (!started) writer.write(csvHeader(job));
    started = true;
    writer.write(view(result.out));
    done = std::max(done, result.batch.inputEnd);
    writer.done(done);
  };
  BatchPool pool(session, options.jobs, work);
  drive(pool, source, consume);
  std::u32string lastText;  // decoded without fault by the batch's worker
  decodeText(lastBytes, job.mode, lastText);
  warnDroppedTail(lastText, job);
  writer.commit(in.position());
}

// --- formatted-to-list ----------------------------------------------------------------

void streamFormattedToList(Session& session, const StreamOptions& options, Job job,
                           const std::u32string& before, const std::u32string& after,
                           const std::string& beforeOrigin, const std::string& afterOrigin) {
  InputFile in(options.input, options.encoding);
  if (job.escape != CellEscape::None) job.escaper.emplace(job.escape);
  Writer writer(options, "formatted-to-list", in);
  warnVariantCounts(job.format, job.columns.size());
  const FormatShape shape(job.format, job.columns.size());
  const std::string name = in.name();
  const TextMode mode = job.mode;
  // The text is cut where it stands as read; in UTF-8 a string's bytes
  // stand only where its characters do.
  const std::string beforeBytes = encodeText(before, mode), afterBytes = encodeText(after, mode);
  const std::string rowStart = encodeText(shape.rowStart, mode), rowEnd = encodeText(shape.rowEnd, mode);
  const std::string rowDelim = encodeText(job.format.rowDelim, mode);
  const std::size_t lookaheadBytes =
      shape.lookahead * widestCharacter(mode);  // room for shape.lookahead characters

  std::string pending;
  bool eof = false;
  auto readMore = [&] {
    if (!eof && in.read(pending, kReadBlock) == 0) eof = true;
    return !eof;
  };
  auto readUntil = [&](std::size_t size) {
    while (pending.size() < size && readMore()) {
    }
    return pending.size() >= size;
  };
  // A text that does not have the shape the format gives may also hold
  // bytes that are no text: then those are what is wrong with it.
  // (`pending` begins at `from`; `length` of it was to match.)
  auto refuse = [&](std::size_t length, TextPlace from, const std::string& why) {
    readUntil(length + 4);  // a character that begins in it ends in view
    const std::string_view bytes = std::string_view(pending).substr(0, length + 4);
    std::u32string ignored;
    if (auto problem = decodeText(bytes, mode, ignored); problem && problem->byteOffset < length)
      failDecoding(bytes, from, mode, *problem, name);
    throw Failure(kExitInput, why);
  };
  readUntil(beforeBytes.size());
  if (pending.compare(0, beforeBytes.size(), beforeBytes) != 0)
    refuse(beforeBytes.size(), TextPlace{},
           name + " does not begin with the text of " + beforeOrigin + ", \"" + showEscaped(before, mode) +
               "\"");
  pending.erase(0, beforeBytes.size());
  TextPlace place = placeAfter(TextPlace{}, beforeBytes, mode);

  // A text that does not begin with a row, or a format the command refuses,
  // is not cut: the command says what is wrong with it.
  readUntil(rowStart.size());
  const bool cuttable = shape.cuttable && pending.compare(0, rowStart.size(), rowStart) == 0;
  RowSeparatorByteScan scan(encodeText(shape.rowSep, mode), rowStart.size());
  scan.restart();
  std::size_t rows = 0;
  bool finished = false;
  std::size_t batches = 0;

  auto take = [&](std::size_t end, std::size_t batchRows, bool last) {
    Batch batch;
    if (!last)
      batch.lookahead =
          pending.substr(end, charactersLength(std::string_view(pending).substr(end), shape.lookahead, mode));
    batch.rows = batchRows;
    batch.last = last;
    batch.firstLine = place.line;
    batch.place = place;
    batch.inputEnd = in.position();
    splitOff(pending, end, batch.bytes);
    place = placeAfter(place, batch.bytes, mode);
    scan.shift(end);
    ++batches;
    return batch;
  };
  // The rest of the text, once it has all been read.
  auto lastBatch = [&]() -> std::optional<Batch> {
    finished = true;
    if (pending.size() < afterBytes.size() ||
        pending.compare(pending.size() - afterBytes.size(), afterBytes.size(), afterBytes) != 0)
      refuse(
          pending.size(), place,
          name + " does not end with the text of " + afterOrigin + ", \"" + showEscaped(after, mode) + "\"");
    pending.erase(pending.size() - afterBytes.size());
    if (batches != 0 && shape.rowStart.empty()) {
      // Behind the last row separator of a format whose rows begin with
      // nothing, a single call finds no further row unless another
      // separator (or the final rowDelim the command adds) ends one.
      std::string closed = pending;
      if (closed.size() < rowDelim.size() ||
          closed.compare(closed.size() - rowDelim.size(), rowDelim.size(), rowDelim) != 0)
        closed += rowDelim;
      if (countRowSeparators(RowSeparatorByteScan(encodeText(shape.rowSep, mode), rowStart.size()),
                             std::string_view(closed)) == 0) {
        Batch batch = take(pending.size(), 0, true);
        batch.rowless = true;
        return batch;
      }
    }
    return take(pending.size(), 0, true);
  };
  auto source = [&]() -> std::optional<Batch> {
    if (finished) return std::nullopt;
    for (;;) {
      if (cuttable) {
        const std::size_t at = scan.next(pending);
        if (at != std::string::npos) {
          ++rows;
          if (rows < options.batchRows && at < options.batchBytes) continue;
          // A cut needs what follows it, and never reaches into --after.
          const std::size_t end = at + rowEnd.size();
          if (readUntil(end + lookaheadBytes + afterBytes.size())) {
            const std::size_t batchRows = rows;
            rows = 0;
            return take(end, batchRows, false);
          }
        }
      }
      if (pending.size() > kMaxBatchBytes)
        throw Failure(
            kExitInput,
            name + ": from line " + std::to_string(place.line) + " on, " + groupDigits(pending.size()) +
                " bytes hold no row separator the text could be cut at, more than one batch may hold");
      if (!readMore()) return lastBatch();
    }
  };

  Work work = [&job, &shape, &name](Host& host, const Batch& batch, BatchResult& result) {
    const std::u32string_view text = decodeBatch(host, batch, job.mode, name);
    if (batch.rowless) return;
    // What follows the cut is checked by the batch it begins, up to where
    // it holds anything that is no text.
    std::u32string following;
    decodeText(batch.lookahead, job.mode, following);
    CutCheck check;
    check.shape = &shape;
    check.lookahead = following;
    check.expectedRows = batch.rows;
    FilledRows filled = runFormattedToList(host, job, text, batch.last ? nullptr : &check);
    result.rows = filled.rows;
    result.out = std::move(filled.csv);
    result.uncut = std::move(filled.uncut);
    result.fault = std::move(filled.fault);
  };

  BatchPool pool(session, options.jobs, work);
  bool started = false;
  std::uint64_t done = 0;
  std::size_t listRows = 0;  // rows written so far
  auto write = [&](const BatchResult& result) {
    if (result.fault)
      throw Failure(kExitInput,
                    describeUnescapeProblem(name, listRows + result.fault->row, job.columns,
                                            result.fault->column, result.fault->problem, job.mode));
    listRows += result.rows;
    if (!started) writer.write(csvHeader(job));
    started = true;
    writer.write(view(result.out));
    done = std::max(done, result.batch.inputEnd);
    writer.done(done);
  };
  // A batch whose cut cannot be proven takes in the batches after it until
  // one can, or to the end of the text; each try at least doubles it.
  auto consume = [&](BatchResult result) {
    if (result.failure) failBatch(result, name);
    if (!result.uncut) return write(result);
    Batch merged = std::move(result.batch);
    std::string why = *result.uncut;
    const std::size_t from = merged.firstLine;
    std::size_t tried = merged.bytes.size();
    for (;;) {
      std::optional<Batch> next;
      if (pool.waiting() != 0) {
        BatchResult following = pool.next();
        next = std::move(following.batch);
      } else {
        next = source();
      }
      if (!next) {
        merged.last = true;  // the rest was text a single call finds no row in
      } else {
        merged.bytes += next->bytes;
        merged.lookahead = std::move(next->lookahead);
        merged.rows += next->rows;
        merged.last = next->last;
        merged.rowless = false;
        merged.inputEnd = next->inputEnd;
      }
      if (merged.bytes.size() > kMaxBatchBytes)
        throw Failure(kExitInput, name + ": the text from line " + std::to_string(from) +
                                      " on cannot be cut where a single call would find the same rows (" +
                                      why + "), and more than " + groupDigits(kMaxBatchBytes) +
                                      " bytes of it do not make one batch");
      if (!merged.last && merged.bytes.size() < 2 * tried) continue;
      tried = merged.bytes.size();
      BatchResult again = pool.runHere(std::move(merged));
      if (again.failure) failBatch(again, name);
      if (!again.uncut) return write(again);
      merged = std::move(again.batch);
    }
  };
  drive(pool, source, consume);
  if (!started) writer.write(csvHeader(job));
  writer.commit(in.position());
}

}  // namespace corvane::cli
