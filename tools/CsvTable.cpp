// CsvTable.cpp - CSV through libcsv, fed one line at a time so that every
// message can name its line.
#include "CsvTable.h"

#include "Escapes.h"
#include "Simd.h"
#include "Tsv.h"
#include "Utf8Blocks.h"

#include <csv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

namespace corvane::cli {

namespace {

// RFC 4180: spaces belong to the cell; libcsv trims them unless told not to.
int noSpaces(unsigned char) { return 0; }

// Whether `bytes` holds any of the four, looked for in eight bytes at a
// time: cells are short, and a search for each one would cost more than
// the cell.
bool holdsAnyOf(std::string_view bytes, char a, char b, char c, char d) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
  auto holds = [](std::uint64_t word, char wanted) {
    const std::uint64_t x =
        word ^ (kOnes * static_cast<unsigned char>(wanted));  // a zero byte where it stands
    return ((x - kOnes) & ~x & kHigh) != 0;
  };
  std::size_t i = 0;
  for (; bytes.size() - i >= 8; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes.data() + i, 8);
    if (holds(word, a) || holds(word, b) || holds(word, c) || holds(word, d)) return true;
  }
  for (; i < bytes.size(); ++i) {
    const char x = bytes[i];
    if (x == a || x == b || x == c || x == d) return true;
  }
  return false;
}

#if defined(CORVANE_SIMD)
// The sixteen bytes of `text` from `at` on, or the fewer left with zeros
// after them (nothing past the text is read); `real` marks the text's.
inline __m128i textBlock(std::string_view text, std::size_t at, unsigned& real) {
  const std::size_t left = text.size() - at;
  real = left >= 16 ? 0xFFFFu : (1u << left) - 1;
  return left >= 16 ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at))
                    : loadLast(text.data() + at, left);
}

// The bits set in a block's marks.  std::popcount would be a library call
// on processors the program is built for.
inline unsigned markCount(unsigned marks) {
  marks = marks - ((marks >> 1) & 0x5555u);
  marks = (marks & 0x3333u) + ((marks >> 2) & 0x3333u);
  marks = (marks + (marks >> 4)) & 0x0F0Fu;
  return (marks + (marks >> 8)) & 0x1Fu;
}

// The bytes of a block equal to `wanted`, as bits.
inline unsigned byteMarks(__m128i block, char wanted) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(wanted))));
}
#endif

std::string quoted(std::u32string_view name, TextMode mode) { return "\"" + showEscaped(name, mode) + "\""; }

class Reader {
 public:
  Reader(const CsvDialect& dialect, TextMode mode, std::string_view source, bool headerOnly,
         const std::vector<std::u32string>* columns = nullptr, std::size_t firstLine = 1,
         CellSink* sink = nullptr)
      : sink_(sink),
        mode_(mode),
        source_(source),
        headerOnly_(headerOnly),
        firstLine_(firstLine),
        tsv_(dialect.tsv),
        delimiter_(dialect.delimiter),
        ragged_(dialect.ragged),
        headerless_(!dialect.header) {
    line_ = firstLine - 1;
    recordLine_ = firstLine;
    if (columns != nullptr) {
      table_.columns = *columns;
      haveHeader_ = true;
      piece_ = true;
    } else if (headerless_) {
      table_.columns = dialect.columns;
      haveHeader_ = true;
    }
    if (csv_init(&parser_, CSV_STRICT | CSV_STRICT_FINI) != 0)
      throw Failure(kExitInput, std::string(source_) + ": cannot start the CSV reader");
    csv_set_space_func(&parser_, noSpaces);
    csv_set_delim(&parser_, static_cast<unsigned char>(dialect.delimiter));
  }
  ~Reader() { csv_free(&parser_); }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // After a header-only read: the bytes up to the end of the header record.
  std::size_t headerEnd() const { return headerEnd_; }

  Table read(std::string_view bytes) {
    headerEnd_ = bytes.size();
    if (!piece_ && mode_ != TextMode::Bytes && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
      bytes.remove_prefix(3);
      skipped_ = 3;
    }
    if (tsv_) return readTsv(bytes);
    std::size_t pos = 0;
    bool atBoundary = true;  // between records
    while (pos < bytes.size() && !(headerOnly_ && haveHeader_)) {
      const void* newline = std::memchr(bytes.data() + pos, '\n', bytes.size() - pos);
      const std::size_t end =
          newline != nullptr ? static_cast<std::size_t>(static_cast<const char*>(newline) - bytes.data()) + 1
                             : bytes.size();
      const std::string_view chunk = bytes.substr(pos, end - pos);
      ++line_;
      if (atBoundary) {
        // A blank line between records; carriage returns alone end no
        // record either, so the next one begins on a later line.
        if (chunk.find_first_not_of('\r') == chunk.size() - 1 && chunk.back() == '\n') {
          pos = end;
          continue;
        }
        recordLine_ = line_;
      }
      if (atBoundary && !headerOnly_ && plainRecord(chunk)) {  // the header finds its own end below
        pos = end;
        continue;
      }
      rowEnded_ = false;
      fieldAfterRow_ = false;
      std::size_t done = 0;
      if (headerOnly_) {
        // The header a byte at a time, to know where it ends: a lone
        // carriage return ends a record as a line feed does, and what
        // follows it on the line is the first record.
        while (done < chunk.size() && !haveHeader_ && !error_ &&
               csv_parse(&parser_, chunk.data() + done, 1, onField, onRow, this) == 1)
          ++done;
        if (haveHeader_) headerEnd_ = skipped_ + pos + done;
      } else {
        done = csv_parse(&parser_, chunk.data(), chunk.size(), onField, onRow, this);
      }
      if (error_) throw Failure(kExitInput, *error_);
      if (done < chunk.size() && !(headerOnly_ && haveHeader_)) {
        if (csv_error(&parser_) != CSV_EPARSE)
          throw Failure(kExitInput, where(line_) + csv_strerror(csv_error(&parser_)));
        const std::size_t column = pos + done;
        const char* what = bytes[column] == '"'
                               ? "a quote inside an unquoted cell (quote the whole cell and double the quote)"
                               : "text after the closing quote of a cell";
        throw Failure(kExitInput, std::string(source_) + ": " +
                                      describePosition(bytes, column, mode_, firstLine_) + ": " + what);
      }
      // Between records only when the parser has begun no row (libcsv's
      // ROW_NOT_BEGUN): a quoted cell opened behind a lone carriage return
      // goes on over the next lines, blank ones included.
      atBoundary = rowEnded_ && !fieldAfterRow_ && parser_.pstate == 0;
      pos = end;
    }
    if (!(headerOnly_ && haveHeader_)) {
      if (csv_fini(&parser_, onField, onRow, this) != 0 || csv_error(&parser_) == CSV_EPARSE)
        throw Failure(kExitInput, where(recordLine_) + "a quoted cell that begins here is never closed");
      if (error_) throw Failure(kExitInput, *error_);
    }
    return finish();
  }

 private:
  Table finish() {
    if (!haveHeader_)
      throw Failure(kExitInput,
                    std::string(source_) + ": no header row (the first record names the columns)");
    if (!piece_ && !headerless_)
      checkColumnNames(table_.columns, mode_, kExitInput, std::string(source_) + ": header");
    return std::move(table_);
  }

  // A line that holds a whole record without quotes or carriage returns
  // (but for the CRLF that ends it), and is not blank, is split at its delimiters here, as
  // libcsv would split it, but faster.  False, having done nothing, for
  // any other line.
  bool plainRecord(std::string_view line) {
    if (delimiter_ == '"' || delimiter_ == '\r' || delimiter_ == '\n') return false;
    std::string_view record = line;
    if (!record.empty() && record.back() == '\n') record.remove_suffix(1);
    if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
    if (record.empty()) return false;
#if defined(CORVANE_SIMD)
    // Sixteen bytes at a time, twice: first that no quote or carriage
    // return is there, and whether each byte is a character as it stands
    // (no zero byte, and in the modes that decode, plain ASCII); then the
    // cells between the delimiters.  A search call for each short cell
    // would cost more than the cell.
    const std::size_t size = record.size();
    const bool bytesMode = mode_ == TextMode::Bytes;
    bool asItStands = true;
    for (std::size_t b = 0; b < size; b += 16) {
      unsigned real = 0;
      const __m128i block = textBlock(record, b, real);
      if (((byteMarks(block, '"') | byteMarks(block, '\r')) & real) != 0) return false;
      const unsigned high = bytesMode ? 0u : static_cast<unsigned>(_mm_movemask_epi8(block));
      asItStands = asItStands && ((high | byteMarks(block, '\0')) & real) == 0;
    }
    if (asItStands && sink_ != nullptr && haveHeader_) {
      sinkWholeRecord(record);
    } else if (!(sink_ != nullptr && haveHeader_ && sinkDecodedRecord(record))) {
      std::size_t at = 0;
      for (std::size_t b = 0; b < size; b += 16) {
        unsigned real = 0;
        const __m128i block = textBlock(record, b, real);
        for (unsigned marks = byteMarks(block, delimiter_) & real; marks != 0; marks &= marks - 1) {
          const std::size_t stop = b + static_cast<std::size_t>(__builtin_ctz(marks));
          field(record.substr(at, stop - at));
          if (error_) throw Failure(kExitInput, *error_);
          at = stop + 1;
        }
      }
      field(record.substr(at));
    }
#else
    if (std::memchr(record.data(), '"', record.size()) != nullptr ||
        std::memchr(record.data(), '\r', record.size()) != nullptr)
      return false;
    std::size_t at = 0;
    for (;;) {
      const void* found = std::memchr(record.data() + at, delimiter_, record.size() - at);
      const std::size_t stop = found != nullptr
                                   ? static_cast<std::size_t>(static_cast<const char*>(found) - record.data())
                                   : record.size();
      field(record.substr(at, stop - at));
      if (error_) throw Failure(kExitInput, *error_);
      if (found == nullptr) break;
      at = stop + 1;
    }
#endif
    row();
    if (error_) throw Failure(kExitInput, *error_);
    return true;
  }

#if defined(CORVANE_SIMD)
  // A record whose bytes are its characters (plain ASCII, or any bytes but
  // zero in the byte mode): widened whole into the sink's room, its cells
  // taken from there by place.
  void sinkWholeRecord(std::string_view record) {
    const std::size_t size = record.size();
    char32_t* const room = sink_->room(size + 16);  // the last block is widened whole
    std::size_t at = 0;
    for (std::size_t b = 0; b < size; b += 16) {
      unsigned real = 0;
      const __m128i block = textBlock(record, b, real);
      storeWidened(block, room + b);
      for (unsigned marks = byteMarks(block, delimiter_) & real; marks != 0; marks &= marks - 1) {
        const std::size_t stop = b + static_cast<std::size_t>(__builtin_ctz(marks));
        sink_->cellAt(at, stop - at);
        ++cells_;
        at = stop + 1;
      }
    }
    sink_->cellAt(at, size - at);
    ++cells_;
    sink_->usedRoom(size);
    fieldAfterRow_ = true;
  }

  // A record of UTF-8 with other characters than ASCII: decoded whole into
  // the sink's room, one long stretch for the decoder instead of one call a
  // cell, its cells taken from there by place.  A cell starts at its
  // delimiter's byte less the continuation bytes before it: an ASCII
  // delimiter is never inside a character.  False, having taken nothing,
  // when the record does not decode (its cells then go one by one, and the
  // one at fault is named).
  bool sinkDecodedRecord(std::string_view record) {
    if (mode_ == TextMode::Bytes || static_cast<unsigned char>(delimiter_) >= 0x80) return false;
    const std::size_t size = record.size();
    char32_t* const room = sink_->room(size + kDecodeSpare);
    std::size_t decoded = 0;
    if (decodeText(record, mode_, room, decoded, size + kDecodeSpare)) return false;
    const __m128i lowestLead = _mm_set1_epi8(static_cast<char>(0xC0));
    std::size_t at = 0, following = 0;  // where the cell starts; continuation bytes so far
    for (std::size_t b = 0; b < size; b += 16) {
      unsigned real = 0;
      const __m128i block = textBlock(record, b, real);
      // 0x80 to 0xBF, compared as signed bytes: below 0xC0.
      const unsigned continuing =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(block, lowestLead))) & real;
      for (unsigned marks = byteMarks(block, delimiter_) & real; marks != 0; marks &= marks - 1) {
        const unsigned k = static_cast<unsigned>(__builtin_ctz(marks));
        const std::size_t stop = b + k - following - markCount(continuing & ((1u << k) - 1));
        sink_->cellAt(at, stop - at);
        ++cells_;
        at = stop + 1;
      }
      following += markCount(continuing);
    }
    sink_->cellAt(at, decoded - at);
    ++cells_;
    sink_->usedRoom(decoded);
    fieldAfterRow_ = true;
    return true;
  }
#endif

  // TSV: one record a line, so a line is read whole and its cells unescaped.
  Table readTsv(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size() && !(headerOnly_ && haveHeader_)) {
      const std::size_t newline = bytes.find('\n', pos);
      const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
      std::string_view record =
          bytes.substr(pos, newline == std::string_view::npos ? end - pos : newline - pos);
      if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
      ++line_;
      const bool oneColumn = haveHeader_ && table_.columns.size() == 1;
      if (record.empty() && !oneColumn) {  // a blank line between records
        pos = end;
        continue;
      }
      recordLine_ = line_;
      const auto problem = readTsvRecord(record, [this](std::string&& cell) { field(cell); });
      if (error_) throw Failure(kExitInput, *error_);
      if (problem)
        throw Failure(kExitInput, std::string(source_) + ": " +
                                      describePosition(bytes, pos + problem->byteOffset, mode_, firstLine_) +
                                      ": " + problem->what);
      row();
      if (error_) throw Failure(kExitInput, *error_);
      pos = end;
      if (headerOnly_ && haveHeader_) headerEnd_ = skipped_ + end;
    }
    return finish();
  }

  std::string where(std::size_t line) const {
    return std::string(source_) + ": line " + std::to_string(line) + ": ";
  }

  static void onField(void* data, std::size_t length, void* self) {
    static_cast<Reader*>(self)->field(std::string_view(static_cast<const char*>(data), length));
  }
  static void onRow(int, void* self) { static_cast<Reader*>(self)->row(); }

  void field(std::string_view bytes) {
    fieldAfterRow_ = true;
    if (error_ || (headerOnly_ && haveHeader_)) return;
    std::u32string cell;
    std::optional<DecodeProblem> problem;
    const bool sunk = sink_ != nullptr && haveHeader_;
    if (sunk) {
      char32_t* const room = sink_->room(bytes.size() + kDecodeSpare);
#if defined(CORVANE_SIMD)
      // A cell of 8 to 16 plain ASCII bytes, the most common kind, at once.
      if (bytes.size() >= 8 && bytes.size() <= 16 && widenShortAscii(bytes.data(), bytes.size(), room)) {
        sink_->cell(bytes.size());
        ++cells_;
        return;
      }
#endif
      std::size_t n = 0;
      problem = decodeText(bytes, mode_, room, n, bytes.size() + kDecodeSpare);
      if (!problem) {
        sink_->cell(n);
        ++cells_;
        return;
      }
    } else {
      problem = decodeText(bytes, mode_, cell);
    }
    if (problem) {
      // The cell ends on the current line; count back the line breaks that
      // follow the problem inside it.
      const std::size_t after =
          tsv_ ? 0
               : static_cast<std::size_t>(std::count(
                     bytes.begin() + static_cast<std::ptrdiff_t>(problem->byteOffset), bytes.end(), '\n'));
      const std::size_t k = sunk ? cells_ : current_.size();
      std::string column = !haveHeader_                ? "header cell " + std::to_string(k + 1)
                           : k < table_.columns.size() ? "column " + quoted(table_.columns[k], mode_)
                                                       : "cell " + std::to_string(k + 1);
      error_ = where(line_ - after) + column + ": " + problem->what;
      return;
    }
    current_.push_back(std::move(cell));
  }

  void row() {
    rowEnded_ = true;
    fieldAfterRow_ = false;
    if (error_ || (headerOnly_ && haveHeader_)) return;
    if (!haveHeader_) {
      table_.columns = std::move(current_);
      haveHeader_ = true;
    } else if (cellsInRow() != table_.columns.size() && !fitRagged()) {
      error_ = where(recordLine_) + std::to_string(cellsInRow()) + " cell" + (cellsInRow() == 1 ? "" : "s") +
               (headerless_ ? " where the list has " + std::to_string(table_.columns.size()) + " columns"
                            : " where the header has " + std::to_string(table_.columns.size()));
    } else {
      if (sink_ != nullptr)
        sink_->endRow();
      else
        table_.rows.push_back(std::move(current_));
      table_.rowLines.push_back(recordLine_);
    }
    cells_ = 0;
    if (sink_ != nullptr) return;
    current_.clear();
    current_.reserve(table_.columns.size());  // the next row's cells, without growing step by step
  }

  // A record of another width than the header's, padded or cut when the
  // dialect allows it.
  bool fitRagged() {
    const bool isShort = cellsInRow() < table_.columns.size();
    if (ragged_ == Ragged::Refuse || (!isShort && ragged_ != Ragged::Truncate)) return false;
    if (sink_ == nullptr) current_.resize(table_.columns.size());  // a sink fits the row as it ends
    ++(isShort ? table_.paddedRows : table_.truncatedRows);
    return true;
  }

  // The cells of the record being read, once the header is known.
  std::size_t cellsInRow() const { return sink_ != nullptr ? cells_ : current_.size(); }

  csv_parser parser_{};
  CellSink* sink_;  // takes the records' cells, or null for table_.rows
  std::size_t cells_ = 0;
  TextMode mode_;
  std::string_view source_;
  bool headerOnly_;
  std::size_t firstLine_;
  bool tsv_;
  char delimiter_;
  Ragged ragged_;
  bool headerless_;     // the columns were named, not read
  bool piece_ = false;  // records of a piece, after the header
  Table table_;
  Row current_;
  bool haveHeader_ = false;
  std::size_t line_ = 0;
  std::size_t recordLine_ = 1;
  bool rowEnded_ = false;
  bool fieldAfterRow_ = false;
  std::optional<std::string> error_;
  std::size_t skipped_ = 0;    // a byte order mark before the header
  std::size_t headerEnd_ = 0;  // header only: the bytes up to the end of the header record
};

}  // namespace

Table readCsv(std::string_view bytes, const CsvDialect& dialect, TextMode mode, std::string_view source) {
  Reader reader(dialect, mode, source, false);
  return reader.read(bytes);
}

std::vector<std::u32string> readCsvHeader(std::string_view bytes, const CsvDialect& dialect, TextMode mode,
                                          std::string_view source, std::size_t* consumed) {
  Reader reader(dialect, mode, source, true);
  auto columns = reader.read(bytes).columns;
  if (consumed != nullptr) *consumed = reader.headerEnd();
  return columns;
}

Table readCsvRecords(std::string_view bytes, const CsvDialect& dialect, TextMode mode,
                     std::string_view source, std::size_t firstLine,
                     const std::vector<std::u32string>& columns) {
  Reader reader(dialect, mode, source, false, &columns, firstLine);
  return reader.read(bytes);
}

Table readCsvRecordsInto(std::string_view bytes, const CsvDialect& dialect, TextMode mode,
                         std::string_view source, std::size_t firstLine,
                         const std::vector<std::u32string>& columns, CellSink& sink) {
  Reader reader(dialect, mode, source, false, &columns, firstLine, &sink);
  return reader.read(bytes);
}

std::vector<std::size_t> findRecordEnds(std::string_view bytes, const CsvDialect& dialect, bool& inQuotes,
                                        std::size_t most) {
#if defined(CORVANE_SIMD)
  // Sixteen bytes at a time: the line feeds and quotes of a block as bits,
  // taken in order.  CSV quotes with '"' and ends records with a line feed,
  // whatever the separator; a quote opens or closes a quoted stretch (a
  // doubled one closes and opens again at once).  TSV has no quotes: every
  // line feed ends a record.
  std::vector<std::size_t> ends;
  if (most == 0) return ends;
  bool quoted = inQuotes;
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    unsigned real = 0;
    const __m128i block = textBlock(bytes, at, real);
    const unsigned feeds = byteMarks(block, '\n') & real;
    const unsigned quotes = dialect.tsv ? 0u : byteMarks(block, '"') & real;
    if (quoted && quotes == 0) continue;  // all of it inside a quoted cell
    for (unsigned marks = feeds | quotes; marks != 0; marks &= marks - 1) {
      const unsigned bit = static_cast<unsigned>(__builtin_ctz(marks));
      if ((quotes >> bit & 1u) != 0) {
        quoted = !quoted;
      } else if (!quoted) {
        ends.push_back(at + bit + 1);
        if (ends.size() == most) {
          inQuotes = quoted;
          return ends;
        }
      }
    }
  }
  inQuotes = quoted;
  return ends;
#else
  std::vector<std::size_t> ends;
  if (dialect.tsv) {  // no quotes: every line feed ends a record
    std::size_t at = 0;
    while (ends.size() < most) {
      const void* newline = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
      if (newline == nullptr) break;
      at = static_cast<std::size_t>(static_cast<const char*>(newline) - bytes.data()) + 1;
      ends.push_back(at);
    }
    return ends;
  }
  // CSV quotes with '"' and ends records with a line feed, whatever the separator.
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* p = begin;
  bool quoted = inQuotes;
  while (p != end && ends.size() < most) {
    if (quoted) {
      const void* quote = std::memchr(p, '"', static_cast<std::size_t>(end - p));
      if (quote == nullptr) {
        p = end;
        break;
      }
      p = static_cast<const char*>(quote) + 1;
      quoted = false;  // a doubled quote opens again at once
      continue;
    }
    // Outside quotes: the next quote or line feed, whichever comes first
    // (the line feed found first, then a quote looked for before it).
    const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char* lineEnd = newline != nullptr ? static_cast<const char*>(newline) : end;
    const void* quote = std::memchr(p, '"', static_cast<std::size_t>(lineEnd - p));
    const char* q = quote != nullptr ? static_cast<const char*>(quote) : lineEnd;
    if (q == end) {
      p = end;
      break;
    }
    if (*q == '"') {
      quoted = true;
    } else {
      ends.push_back(static_cast<std::size_t>(q + 1 - begin));
    }
    p = q + 1;
  }
  inQuotes = quoted;
  return ends;
#endif
}

void appendCsvCell(std::string& out, std::u32string_view cell, bool first, bool alone,
                   const CsvDialect& dialect, TextMode mode) {
  if (!first) out.push_back(dialect.delimiter);
  const std::size_t start = out.size();
  encodeText(cell, mode, out);
  const std::string_view written(out.data() + start, out.size() - start);
  if (dialect.tsv) {
    if (!holdsAnyOf(written, '\t', '\n', '\r', '\\')) return;
    const std::string cellBytes(written);
    out.resize(start);
    appendTsvCell(cellBytes, out);
    return;
  }
  const bool quote = (written.empty() && alone) || holdsAnyOf(written, dialect.delimiter, '"', '\r', '\n');
  if (!quote) return;
  const std::string plain(written);
  out.resize(start);
  std::string quotedCell(csv_write(nullptr, 0, plain.data(), plain.size()), '\0');
  csv_write(quotedCell.data(), quotedCell.size(), plain.data(), plain.size());
  out += quotedCell;
}

bool isPlainRecord(std::string_view record, std::size_t cells, const CsvDialect& dialect) {
  if (cells == 0) return record.empty();
  if (!dialect.tsv && cells == 1 && record.empty()) return false;  // one empty cell is quoted
  const char delimiter = dialect.delimiter;
  const char marker = dialect.tsv ? '\\' : '"';  // what escapes, or quotes, a cell
  std::size_t delimiters = 0, i = 0;
#if defined(CORVANE_SIMD)
  const __m128i d = _mm_set1_epi8(delimiter), m = _mm_set1_epi8(marker), lf = _mm_set1_epi8('\n'),
                cr = _mm_set1_epi8('\r'), zero = _mm_setzero_si128();
  // Delimiters counted in each byte lane, added up before a lane can
  // overflow: a call to count bits costs more here than the block.
  __m128i counts = zero;
  unsigned counted = 0;
  const auto addCounts = [&] {
    const __m128i sums = _mm_sad_epu8(counts, zero);
    delimiters +=
        static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    counts = zero;
    counted = 0;
  };
  for (; record.size() - i >= 16; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(record.data() + i));
    const __m128i other =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, m), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, cr));
    if (_mm_movemask_epi8(other) != 0) return false;
    counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(v, d));
    if (++counted == 255) addCounts();
  }
  addCounts();
#endif
  for (; i < record.size(); ++i) {
    const char c = record[i];
    if (c == marker || c == '\n' || c == '\r') return false;
    delimiters += c == delimiter ? 1 : 0;
  }
  return delimiters == cells - 1;
}

std::string_view csvLineEnd(const CsvDialect& dialect) {
  return dialect.lineEnd == LineEnd::CrLf ? "\r\n" : "\n";
}

void appendCsvLineEnd(std::string& out, const CsvDialect& dialect) { out += csvLineEnd(dialect); }

std::string writeCsv(const std::vector<std::u32string>& columns, const std::vector<Row>& rows,
                     const CsvDialect& dialect, TextMode mode) {
  std::string out;
  auto writeRecord = [&](const Row& record) {
    for (std::size_t i = 0; i < record.size(); ++i)
      appendCsvCell(out, record[i], i == 0, record.size() == 1, dialect, mode);
    appendCsvLineEnd(out, dialect);
  };
  if (dialect.header) writeRecord(columns);
  for (const Row& record : rows) writeRecord(record);
  return out;
}

LineEnd lineEndOf(std::string_view bytes) {
  const std::size_t newline = bytes.find('\n');
  return newline != std::string_view::npos && newline != 0 && bytes[newline - 1] == '\r' ? LineEnd::CrLf
                                                                                         : LineEnd::Lf;
}

void checkColumnNames(const std::vector<std::u32string>& columns, TextMode mode, Exit status,
                      std::string_view source) {
  std::map<std::u32string_view, std::size_t> seen;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const std::u32string& name = columns[i];
    const std::string prefix = std::string(source) + ": column " + std::to_string(i + 1);
    if (name.empty()) throw Failure(status, prefix + " has no name");
    if (name.find(U',') != std::u32string::npos)
      throw Failure(status, prefix + " is named " + quoted(name, mode) +
                                ", with a comma, which separates the host's column names");
    if (name.front() == U'#')
      throw Failure(status, prefix + " is named " + quoted(name, mode) +
                                ", beginning with \"#\", which marks the host's own variables");
    const auto [at, fresh] = seen.emplace(name, i);
    if (!fresh)
      throw Failure(status, prefix + " has the name " + quoted(name, mode) + " of column " +
                                std::to_string(at->second + 1) + "; every column needs a name of its own");
  }
}

}  // namespace corvane::cli
