// CsvTable.h - a host list as a CSV file (RFC 4180): a header row with the
// list's column names, then one record per line of the list; another
// separator than the comma on request, or no header row.  TSV has a tab
// between cells and no quoting: its cells escape tabs, line breaks and
// backslashes instead (Tsv.h).
#ifndef CORVANE_TOOLS_CSV_TABLE_H
#define CORVANE_TOOLS_CSV_TABLE_H

#include "Encoding.h"
#include "Failure.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cli {

using Row = std::vector<std::u32string>;

struct Table {
  std::vector<std::u32string> columns;
  std::vector<Row> rows;
  std::vector<std::size_t> rowLines;  // the line of the file where each row starts
  std::size_t paddedRows = 0;         // short rows given empty cells (Ragged)
  std::size_t truncatedRows = 0;      // long rows cut to the header's width (Ragged)
};

enum class LineEnd { CrLf, Lf };

// What to do with a record of more or fewer cells than the header.
enum class Ragged {
  Refuse,    // an error
  Pad,       // a short one gets empty cells; a long one is an error
  Truncate,  // a short one gets empty cells, a long one loses its surplus
};

struct CsvDialect {
  char delimiter = ',';  // ',' or another separator for CSV, '\t' for TSV
  LineEnd lineEnd = LineEnd::CrLf;
  bool tsv = false;                     // tab-separated, escapes instead of quotes
  bool header = true;                   // the first record names the columns
  std::vector<std::u32string> columns;  // the column names when there is no header row
  Ragged ragged = Ragged::Refuse;
};

// How the first record of a table ends: CRLF or LF (also for a file of
// no complete line).
LineEnd lineEndOf(std::string_view bytes);

// Reads a whole table (small files; data is read in pieces below).  Blank lines between records are skipped
// (in TSV only when there is more than one column: there a blank line is a record of one empty cell); a UTF-8
// byte order mark before the header is dropped (not in Bytes mode).  Throws
// Failure (input) naming `source`, the line and what is wrong: a misplaced
// quote, a quoted cell never closed, a record whose number of cells differs
// from the header's, a cell the mode cannot hold, a header the host cannot
// take as column names.
Table readCsv(std::string_view bytes, const CsvDialect& dialect, TextMode mode, std::string_view source);

// Only the header row; the rest of the file is not looked at.  `consumed`
// gets the bytes up to the end of the header record: a lone carriage return
// ends it too, so the first record may begin on the header's line.
std::vector<std::u32string> readCsvHeader(std::string_view bytes, const CsvDialect& dialect, TextMode mode,
                                          std::string_view source, std::size_t* consumed = nullptr);

// --- a table read in pieces ---------------------------------------------------
//
// A large table is cut into pieces that each end at the end of a record, so
// that every piece can be read on its own: the header first, then pieces of
// records that different threads read.  Messages name the lines of the
// whole file.

// Where records end: the offsets just past the line breaks of `bytes` that
// are not inside a quoted cell (in TSV, which has no quotes, every one), scanning on from the state
// `inQuotes` (which is updated), at most `most` of them.  A quote inside an unquoted cell (which the reader
// refuses) only moves the cut; the reader still reports it at its place.
std::vector<std::size_t> findRecordEnds(std::string_view bytes, const CsvDialect& dialect, bool& inQuotes,
                                        std::size_t most);

// The records of a piece that begins at line `firstLine` of the file,
// checked against the header's columns.  Throws Failure (input) as readCsv.
Table readCsvRecords(std::string_view bytes, const CsvDialect& dialect, TextMode mode,
                     std::string_view source, std::size_t firstLine,
                     const std::vector<std::u32string>& columns);

// Where readCsvRecordsInto puts the cells, without a string each: room for
// a cell of at most `most` characters, valid until the next call; the
// length of the cell written there; the end of a record, which the sink
// pads with empty cells or cuts to the header's width when the dialect's
// Ragged lets a record of another width through.
class CellSink {
 public:
  virtual ~CellSink() = default;
  virtual char32_t* room(std::size_t most) = 0;
  virtual void cell(std::size_t length) = 0;
  // Several cells from one stretch written in the room (a record of plain
  // ASCII, widened whole): each by its offset there and its length, in
  // order; then the characters of the room used, cells and delimiters.
  virtual void cellAt(std::size_t offset, std::size_t length) = 0;
  virtual void usedRoom(std::size_t characters) = 0;
  virtual void endRow() = 0;
};

// readCsvRecords with the cells given to `sink`: the table it returns has
// no rows, only their lines and the counts of padded and cut rows.
Table readCsvRecordsInto(std::string_view bytes, const CsvDialect& dialect, TextMode mode,
                         std::string_view source, std::size_t firstLine,
                         const std::vector<std::u32string>& columns, CellSink& sink);

// Writing a table a record at a time: each cell (a quoted one when it
// needs that; `alone` when it is the record's only cell), then the line end.
void appendCsvCell(std::string& out, std::u32string_view cell, bool first, bool alone,
                   const CsvDialect& dialect, TextMode mode);
void appendCsvLineEnd(std::string& out, const CsvDialect& dialect);
// The bytes that end a record in the dialect.
std::string_view csvLineEnd(const CsvDialect& dialect);
// Whether `record`, written from `cells` cells with the delimiter between
// them and no quotes or escapes, reads back as those cells: it holds
// cells - 1 delimiters and nothing else that needs quotes or escapes.  A
// record is written that way first, and a cell at a time only when not.
bool isPlainRecord(std::string_view record, std::size_t cells, const CsvDialect& dialect);

// The table as CSV: every record ends with the dialect's line end; a cell is
// quoted only when it holds the delimiter, a quote or a line break (and an
// empty cell that is alone on its record, which would otherwise be a blank
// line).  As TSV: every cell escaped.  Without a header: the rows only.
std::string writeCsv(const std::vector<std::u32string>& columns, const std::vector<Row>& rows,
                     const CsvDialect& dialect, TextMode mode);

// Names a host list can have as columns: not empty, no comma (the host
// joins the names with commas), not beginning with '#' (the host's own
// variables), each name once.  Throws Failure with `status`, the message
// beginning with `source`.
void checkColumnNames(const std::vector<std::u32string>& columns, TextMode mode, Exit status,
                      std::string_view source);

}  // namespace corvane::cli

#endif
