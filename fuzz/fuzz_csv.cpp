// fuzz_csv.cpp - the program's CSV and TSV reader on any bytes, in every
// dialect (a separator, TSV, no header row, ragged rows, each text mode):
//   - it refuses an input with an input error that names the file, or gives
//     rows of the header's width;
//   - read in pieces as the program streams a file (the header, then pieces
//     of at most a few records cut where findRecordEnds says), it gives the
//     same rows, or fails with the same message;
//   - what it read, written back in the same dialect, reads back the same.
// Never a crash, a hang or another exception.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CsvTable.h"
#include "FuzzTools.h"

namespace {

using namespace corvane::cli;

constexpr std::string_view kSource = "fuzz.csv";

struct Outcome {
  std::optional<Table> table;
  std::string failure;
  bool inHeader = false;  // the header row failed, before any record was read
  bool midLine = false;   // the records began on the header's line, behind a carriage return
};

Outcome readWhole(std::string_view bytes, const CsvDialect& dialect, TextMode mode) {
  Outcome out;
  try {
    out.table = readCsv(bytes, dialect, mode, kSource);
  } catch (const Failure& failure) {
    if (failure.status() != kExitInput) cvfuzz::toolCheckFailed("bad CSV is an input error", failure.what());
    out.failure = failure.what();
    if (out.failure.rfind(std::string(kSource) + ": ", 0) != 0)
      cvfuzz::toolCheckFailed("the message names the file", out.failure);
  }
  return out;
}

// The cells as the program's list takes them, each written where the sink
// says; a row is made as wide as the columns, as the list makes it.
class RowSink final : public CellSink {
 public:
  RowSink(std::vector<Row>& rows, std::size_t columns) : rows_(rows), columns_(columns) {}
  char32_t* room(std::size_t most) override {
    room_.assign(most, U'\0');
    return room_.data();
  }
  void cell(std::size_t length) override { row_.emplace_back(room_.data(), length); }
  void cellAt(std::size_t offset, std::size_t length) override {
    row_.emplace_back(room_.data() + offset, length);
  }
  void usedRoom(std::size_t) override {}
  void endRow() override {
    row_.resize(columns_);
    rows_.push_back(std::move(row_));
    row_.clear();
  }

 private:
  std::vector<Row>& rows_;
  std::size_t columns_;
  std::u32string room_;
  Row row_;
};

// As the program streams a list: the header row (blank lines before it are
// no header), then pieces of at most `most` records, read into a table or,
// `sunk`, as the program reads them into its list.
Outcome readInPieces(std::string_view bytes, const CsvDialect& dialect, TextMode mode, std::size_t most,
                     bool sunk) {
  Outcome out;
  try {
    std::vector<std::u32string> columns = dialect.columns;
    std::size_t at = 0, line = 1;
    if (dialect.header) {
      bool quoted = false;
      std::size_t end = bytes.size(), scanned = 0;
      for (;;) {
        const auto ends = findRecordEnds(bytes.substr(scanned), dialect, quoted, 1);
        if (ends.empty()) {
          end = bytes.size();
          break;
        }
        scanned += ends.front();
        end = scanned;
        if (bytes.find_first_not_of("\r\n\xEF\xBB\xBF") < end) break;
      }
      out.inHeader = true;
      columns = readCsvHeader(bytes.substr(0, end), dialect, mode, kSource, &end);
      out.inHeader = false;
      out.midLine = end != 0 && end < bytes.size() && bytes[end - 1] == '\r' && bytes[end] != '\n';
      line +=
          static_cast<std::size_t>(std::count(bytes.begin(), bytes.begin() + static_cast<long>(end), '\n'));
      at = end;
    } else if (mode != TextMode::Bytes && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
      at = 3;
    }
    Table all;
    all.columns = columns;
    bool quoted = false;
    while (at < bytes.size()) {
      const auto ends = findRecordEnds(bytes.substr(at), dialect, quoted, most);
      const std::size_t size = ends.size() == most ? ends.back() : bytes.size() - at;
      if (ends.size() != most) quoted = false;
      const std::string_view piece = bytes.substr(at, size);
      Table table;
      if (sunk) {
        RowSink sink(all.rows, columns.size());
        table = readCsvRecordsInto(piece, dialect, mode, kSource, line, columns, sink);
      } else {
        table = readCsvRecords(piece, dialect, mode, kSource, line, columns);
      }
      for (auto& row : table.rows) all.rows.push_back(std::move(row));
      all.paddedRows += table.paddedRows;
      all.truncatedRows += table.truncatedRows;
      line += static_cast<std::size_t>(std::count(piece.begin(), piece.end(), '\n'));
      at += size;
    }
    out.table = std::move(all);
  } catch (const Failure& failure) {
    out.failure = failure.what();
  }
  return out;
}

std::string describe(const Outcome& outcome) {
  if (!outcome.table) return "failure: " + outcome.failure;
  std::string out = std::to_string(outcome.table->columns.size()) + " columns, " +
                    std::to_string(outcome.table->rows.size()) + " rows:";
  for (const auto& row : outcome.table->rows) {
    out += " [";
    for (const auto& cell : row) out += showEscaped(cell, TextMode::Unicode) + "|";
    out += "]";
  }
  return out;
}

bool sameRows(const Table& a, const Table& b) {
  return a.columns == b.columns && a.rows == b.rows && a.paddedRows == b.paddedRows &&
         a.truncatedRows == b.truncatedRows;
}

}  // namespace

// Input: two bytes of options, then the file.
//   byte 0: bit 0 TSV, bit 1 no header row, bits 2-3 ragged (refuse, pad,
//           truncate), bits 4-5 text mode, bit 6 CRLF when writing
//   byte 1: the separator (an ASCII character other than a quote or a line
//           break; a comma otherwise); its top bits the records per piece
//   byte 0, bit 7: one column instead of three without a header row
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0], sep = data[1];
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  CsvDialect dialect;
  dialect.tsv = (flags & 1) != 0;
  dialect.header = (flags & 2) == 0;
  dialect.ragged = static_cast<Ragged>(((flags >> 2) & 3) % 3);
  const TextMode mode = static_cast<TextMode>(((flags >> 4) & 3) % 3);
  dialect.lineEnd = (flags & 64) != 0 ? LineEnd::CrLf : LineEnd::Lf;
  const char separator = static_cast<char>(sep & 0x3F ? (sep & 0x3F) + 0x20 : ',');
  dialect.delimiter = dialect.tsv ? '\t' : (separator == '"' ? ',' : separator);
  if (!dialect.header)
    dialect.columns = (flags & 128) != 0 ? std::vector<std::u32string>{U"a"}
                                         : std::vector<std::u32string>{U"a", U"b", U"c"};
  const std::size_t most = 1 + ((sep >> 6) & 3);

  const Outcome whole = readWhole(bytes, dialect, mode);
  if (whole.table) {
    for (const auto& row : whole.table->rows)
      if (row.size() != whole.table->columns.size())
        cvfuzz::toolCheckFailed("every row has the header's width", describe(whole));
  }

  const Outcome pieces = readInPieces(bytes, dialect, mode, most, false);
  // A file whose header is bad and that has a bad record further on may be
  // refused for either: the stream reads the header alone first.  Records
  // that begin on the header's line (behind a lone carriage return) are
  // read as a piece of their own, whose characters a message counts from
  // the piece's start.
  if (whole.table.has_value() != pieces.table.has_value() ||
      (whole.table ? !sameRows(*whole.table, *pieces.table)
                   : whole.failure != pieces.failure && !pieces.inHeader && !pieces.midLine))
    cvfuzz::toolCheckFailed("read in pieces as read whole",
                            "whole: " + describe(whole) + "\npieces: " + describe(pieces));

  // Straight into the list, the quick ways for plain cells included.
  const Outcome sunk = readInPieces(bytes, dialect, mode, most, true);
  if (pieces.table.has_value() != sunk.table.has_value() ||
      (pieces.table ? !sameRows(*pieces.table, *sunk.table) : pieces.failure != sunk.failure))
    cvfuzz::toolCheckFailed("read into the list as read into a table",
                            "table: " + describe(pieces) + "\nlist: " + describe(sunk));

  if (!whole.table) return 0;
  const std::string written = writeCsv(whole.table->columns, whole.table->rows, dialect, mode);
  // A first cell that begins with U+FEFF is written as a byte order mark,
  // which the reader drops at the start of a file.
  if (mode != TextMode::Bytes && written.rfind("\xEF\xBB\xBF", 0) == 0) return 0;
  const Outcome again = readWhole(written, dialect, mode);
  if (!again.table || again.table->columns != whole.table->columns || again.table->rows != whole.table->rows)
    cvfuzz::toolCheckFailed("written and read back the same", "read: " + describe(whole) + "\nwritten: " +
                                                                  written + "\nback: " + describe(again));
  return 0;
}
