// ListToString and StringToList over lists of 10-character cells in ten
// columns, both builds, next to the host-interface floor (our host reading,
// respectively writing, the same cells with no plug-in) and a memcpy of the
// same bytes.  Two sizes, ten times apart, give the scaling.
#include "BenchSupport.h"

namespace cvbench {
namespace {

constexpr std::size_t kColumns = 10;
constexpr std::size_t kRowCounts[] = {100000, 1000000};  // 1M and 10M cells
constexpr char32_t kDefaultDelimiter = 252;

// A list in field 1 for ListToString; the text it gives, in the host's form
// and in the build's width for the floor to store.
struct ListData {
  std::unique_ptr<Host> host;
  std::vector<std::int16_t> refs;
  std::uint64_t cells = 0;
  std::u32string expected;
  UnitText expectedUnits;
  UnitText cellBuffer;  // where the floor reads the cells to
  std::optional<TrafficCounts> pluginTraffic;
};

// A delimited text in field 1 for StringToList; the list it gives.
struct TextData {
  std::unique_ptr<Host> host;
  std::vector<std::int16_t> refs;
  std::uint64_t cells = 0;
  std::uint64_t textLength = 0;
  Rows expected;
  UnitText packedCells;  // what the floor stores, cell by cell
  std::optional<TrafficCounts> pluginTraffic;
};

std::string key(const char* what, const Build& build, std::size_t rows) {
  return std::string(what) + "/" + build.file + "/" + std::to_string(rows);
}

ListData& listData(const Build& build, std::size_t rows) {
  return dataSet<ListData>(key("list", build, rows), [&] {
    auto d = std::make_shared<ListData>();
    d->host = std::make_unique<Host>(plugin(build));
    d->host->load();
    Rows cells = makeRows(rows, kColumns);
    d->cells = cellCount(cells);
    d->expected = joinCells(cells, kDefaultDelimiter);
    d->expectedUnits = UnitText(build.width(), d->expected);
    d->cellBuffer = UnitText(build.width(), d->expected.size());
    const auto names = columnNames(kColumns);
    d->host->setList(P1, names, std::move(cells));
    d->refs = Traffic(*d->host).references(names);
    return d;
  });
}

TextData& textData(const Build& build, std::size_t rows) {
  return dataSet<TextData>(key("text", build, rows), [&] {
    auto d = std::make_shared<TextData>();
    d->host = std::make_unique<Host>(plugin(build));
    d->host->load();
    d->expected = makeRows(rows, kColumns);
    d->cells = cellCount(d->expected);
    d->packedCells = packCells(build.width(), d->expected);
    std::u32string text = joinCells(d->expected, kDefaultDelimiter);
    d->textLength = text.size();
    const auto names = columnNames(kColumns);
    d->host->setText(P1, std::move(text));
    d->host->setList(P2, names);
    d->refs = Traffic(*d->host).references(names);
    return d;
  });
}

void countCells(benchmark::State& state, std::uint64_t cells, std::uint64_t bytes) {
  state.SetItemsProcessed(static_cast<std::int64_t>(cells) * state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

std::size_t unit(const Build& build) { return corvane::host::unitBytes(build.width()); }

void registerListToString(const Build& build, std::size_t rows) {
  const std::string size = "cells:" + shortCount(rows * kColumns);
  // A fresh instance grows the ScratchBuffer in every run; at the smaller
  // size only, to keep the whole run short.
  for (const bool fresh : {false, true}) {
    if (fresh && rows != kRowCounts[0]) continue;
    registerBench(benchName("ListToString", build, size, "plain", fresh ? "fresh" : "plugin"),
                  [build, rows, fresh](benchmark::State& state, bool first) {
                    ListData& d = listData(build, rows);
                    const int result = fresh ? runFresh(state, first, *d.host, kLts, 2)
                                             : runWarm(state, first, *d.host, kLts, 2, &d.pluginTraffic);
                    if (result != 0 || d.host->text(P2) != d.expected)
                      fail(state, "wrong text, result " + std::to_string(result));
                    countCells(state, d.cells, d.expected.size() * unit(build));
                  });
  }
  registerBench(benchName("ListToString", build, size, "plain", "floor"),
                [build, rows](benchmark::State& state, bool first) {
                  ListData& d = listData(build, rows);
                  const UnitText empty(build.width(), std::size_t{0});
                  std::size_t read = 0;
                  {
                    Traffic t(*d.host);
                    auto once = [&] {
                      t.writeText(P2, empty.data());
                      const std::int32_t lines = t.lineCount(P1);
                      t.readColumnDefinition(P1);
                      read = t.readCells(P1, d.refs, lines, 255, d.cellBuffer.data());
                      t.writeText(P2, d.expectedUnits.data());
                    };
                    if (first) checkTraffic(state, d.pluginTraffic, countTraffic(*d.host, once));
                    for (auto _ : state) once();
                  }
                  if (read + d.cells != d.expected.size() || d.host->text(P2).size() != d.expected.size())
                    fail(state, "the floor did not read every cell");
                  countCells(state, d.cells, d.expected.size() * unit(build));
                });
  registerBench(benchName("ListToString", build, size, "plain", "memcpy"),
                [build, rows](benchmark::State& state, bool) {
                  const std::uint64_t cells = rows * kColumns;
                  memcpyBody(state, static_cast<std::size_t>(cells * 11 * unit(build)), cells);
                });
}

void registerStringToList(const Build& build, std::size_t rows) {
  const std::string size = "cells:" + shortCount(rows * kColumns);
  registerBench(benchName("StringToList", build, size, "plain", "plugin"),
                [build, rows](benchmark::State& state, bool first) {
                  TextData& d = textData(build, rows);
                  const int result = runWarm(state, first, *d.host, kStl, 2, &d.pluginTraffic);
                  if (result != 0 || d.host->list(P2).rows != d.expected)
                    fail(state, "wrong list, result " + std::to_string(result));
                  countCells(state, d.cells, d.textLength * unit(build));
                });
  registerBench(benchName("StringToList", build, size, "plain", "floor"),
                [build, rows](benchmark::State& state, bool first) {
                  TextData& d = textData(build, rows);
                  const auto lines = static_cast<std::int32_t>(d.expected.size());
                  std::int32_t delivered = 0;
                  bool linesSet = true;
                  {
                    Traffic t(*d.host);
                    auto once = [&] {
                      t.clearList(P2);
                      t.readColumnDefinition(P2);
                      delivered = t.receiveText(P1, 0);  // room for the characters only, as the command asks
                      linesSet = t.setLines(P2, lines);
                      t.writeCells(P2, d.refs, lines, d.packedCells.data());
                    };
                    if (first) checkTraffic(state, d.pluginTraffic, countTraffic(*d.host, once));
                    for (auto _ : state) once();
                  }
                  if (!linesSet || static_cast<std::uint64_t>(delivered) != d.textLength ||
                      d.host->list(P2).rows != d.expected)
                    fail(state, "the floor did not store every cell");
                  countCells(state, d.cells, d.textLength * unit(build));
                });
  registerBench(benchName("StringToList", build, size, "plain", "memcpy"),
                [build, rows](benchmark::State& state, bool) {
                  const std::uint64_t cells = rows * kColumns;
                  memcpyBody(state, static_cast<std::size_t>(cells * 11 * unit(build)), cells);
                });
}

}  // namespace

void registerListString() {
  for (const Build& build : kBuilds) {
    for (std::size_t rows : kRowCounts) registerListToString(build, rows);
    for (std::size_t rows : kRowCounts) registerStringToList(build, rows);
  }
}

}  // namespace cvbench
