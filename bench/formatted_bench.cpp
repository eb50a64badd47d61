// ListToFormattedString and FormattedStringToList, both builds, next to the
// host-interface floor measured in the same run:
//   - one million cells (100,000 rows x 10 columns) in an HTML-table-like
//     format, with and without variant lists, both commands;
//   - FormattedStringToList on texts of 100 million characters: the same
//     HTML-like table, and two adversarial texts of the same size;
//   - ten times less of each for the scaling;
//   - the literal algorithm of the tests on 100,000 characters of each text,
//     next to the plug-in on the same text.
//
// The adversarial texts:
//   near-match     every format string is 254 'a's and one other character,
//                  and the cells are runs of 'a': every separator (the row
//                  separator joins five of them, 1,275 characters) nearly
//                  matches at every position, which makes a naive search
//                  compare hundreds of characters per position;
//   rare-prefixes  124 columns with a prefix list of one distinct character
//                  per column: each column's prefix occurs once per row, so
//                  every search for it from a cell start runs a whole row.
#include <map>

#include "BenchSupport.h"
#include "FormattedOracle.h"

namespace cvbench {
namespace {

using cvtest::FormatStrings;

// A kind of formatted text: its format strings and the cells of its rows.
struct Shape {
  const char* name;
  std::size_t columns;
  FormatStrings format;
  std::function<Rows(std::size_t rows)> makeRows;
};

std::u32string repeat(char32_t c, std::size_t n, char32_t last) {
  std::u32string s(n, c);
  s += last;
  return s;
}

FormatStrings htmlFormat() { return {U"<tr>", U"</tr>", U"\n", U"<td>", U"</td>", U" "}; }

FormatStrings htmlVariantFormat(std::size_t columns) {
  FormatStrings f = htmlFormat();
  std::string prefixes = "VARIANT:", suffixes = "VARIANT:";
  for (std::size_t c = 0; c < columns; ++c) {
    const std::string n = std::to_string(c);
    prefixes += (c ? "," : "") + std::string("<td class=\"c") + n + "\">";
    suffixes += (c ? "," : "") + std::string("</td><!-- c") + n + " -->";
  }
  f.colPrefix = corvane::host::ascii(prefixes);
  f.colSuffix = corvane::host::ascii(suffixes);
  return f;
}

FormatStrings nearMatchFormat() {
  return {repeat(U'a', 254, U'P'), repeat(U'a', 254, U'S'), repeat(U'a', 254, U'R'),
          repeat(U'a', 254, U'p'), repeat(U'a', 254, U's'), repeat(U'a', 254, U'd')};
}

constexpr std::size_t kRarePrefixColumns = 124;  // as many one-character entries as 255 hold

FormatStrings rarePrefixFormat() {
  std::u32string prefixes = U"VARIANT:";
  for (std::size_t c = 0; c < kRarePrefixColumns; ++c) {
    if (c) prefixes += U',';
    prefixes += static_cast<char32_t>(0x80 + c);  // no cell holds these
  }
  return {U"", U"", U"\n", prefixes, U"", U"|"};
}

const Shape& shape(const std::string& name) {
  static const std::vector<Shape> shapes = {
      {"html", 10, htmlFormat(), [](std::size_t rows) { return cvbench::makeRows(rows, 10); }},
      {"html-variant", 10, htmlVariantFormat(10),
       [](std::size_t rows) { return cvbench::makeRows(rows, 10); }},
      {"near-match", 10, nearMatchFormat(),
       [](std::size_t rows) {
         return Rows(rows, std::vector<std::u32string>(10, std::u32string(10, U'a')));
       }},
      {"rare-prefixes", kRarePrefixColumns, rarePrefixFormat(),
       [](std::size_t rows) { return cvbench::makeRows(rows, kRarePrefixColumns, 20); }},
  };
  for (const auto& s : shapes)
    if (name == s.name) return s;
  std::abort();
}

// Rows enough for a text of at least `characters`.
std::size_t rowsForLength(const Shape& s, std::size_t characters) {
  const std::size_t row = cvtest::literalRender(s.makeRows(1), s.columns, s.format).size();
  const std::size_t delimiter = s.format.rowDelim.size();
  return (characters + delimiter + row + delimiter - 1) / (row + delimiter);
}

// Characters the floor's text handle has room for past the text.  The
// command asks room for its last suffix, rowSuffix, rowDelim and ten more
// (21 characters for html, 775 for near-match); the exact number costs
// nothing measurable once the count fits, since then our host keeps the
// block.
constexpr std::size_t kAppendedChars = 32;

void readFormat(Traffic& t) {
  alignas(4) unsigned char slot[258 * 4];
  for (std::int16_t field = P3; field <= P8; ++field) t.readParameter(field, slot);
}

std::size_t unit(const Build& build) { return corvane::host::unitBytes(build.width()); }

void countCells(benchmark::State& state, std::uint64_t cells, std::uint64_t characters, const Build& build) {
  state.SetItemsProcessed(static_cast<std::int64_t>(cells) * state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(characters * unit(build)) * state.iterations());
}

// --- ListToFormattedString ------------------------------------------------------

struct Rendered {
  std::u32string text;
  UnitText units;
};

struct ListData {
  std::unique_ptr<Host> host;
  std::vector<std::int16_t> refs;
  std::uint64_t cells = 0;
  std::map<std::string, Rendered> expected;            // by shape
  UnitText cellBuffer;                                 // where the floor reads cells to
  std::map<std::string, TrafficCounts> pluginTraffic;  // by shape
};

ListData& listData(const Build& build, std::size_t rows, const std::vector<std::string>& shapes) {
  return dataSet<ListData>("ltfs/" + std::string(build.file) + "/" + std::to_string(rows), [&] {
    auto d = std::make_shared<ListData>();
    Rows cells = shape(shapes.front()).makeRows(rows);
    const std::size_t columns = shape(shapes.front()).columns;
    d->cells = cellCount(cells);
    for (const auto& name : shapes) {
      Rendered r;
      r.text = cvtest::literalRender(cells, columns, shape(name).format);
      r.units = UnitText(build.width(), r.text);
      d->expected[name] = std::move(r);
    }
    d->cellBuffer = UnitText(build.width(), static_cast<std::size_t>(totalLength(cells)));
    d->host = std::make_unique<Host>(plugin(build));
    d->host->load();
    const auto names = columnNames(columns);
    d->host->setList(P1, names, std::move(cells));
    d->refs = Traffic(*d->host).references(names);
    return d;
  });
}

// `withMemcpy` also adds a memcpy of the text and a run on a freshly loaded
// instance, which grows the BigBuffer every time.
void registerListToFormattedString(const Build& build, std::size_t rows,
                                   const std::vector<std::string>& shapes, bool withMemcpy) {
  const std::string size = "cells:" + shortCount(rows * shape(shapes.front()).columns);
  for (const auto& name : shapes) {
    for (const bool fresh : {false, true}) {
      if (fresh && !withMemcpy) continue;
      registerBench(benchName("ListToFormattedString", build, size, name, fresh ? "fresh" : "plugin"),
                    [=](benchmark::State& state, bool first) {
                      ListData& d = listData(build, rows, shapes);
                      cvtest::setFormats(*d.host, shape(name).format);
                      const Rendered& want = d.expected.at(name);
                      std::optional<TrafficCounts> traffic;
                      const int result = fresh ? runFresh(state, first, *d.host, kLtfs, 8)
                                               : runWarm(state, first, *d.host, kLtfs, 8, &traffic);
                      if (traffic) d.pluginTraffic[name] = *traffic;
                      if (result != 0 || d.host->text(P2) != want.text)
                        fail(state, "wrong text, result " + std::to_string(result));
                      countCells(state, d.cells, want.text.size(), build);
                    });
    }
    registerBench(benchName("ListToFormattedString", build, size, name, "floor"), [=](benchmark::State& state,
                                                                                      bool first) {
      ListData& d = listData(build, rows, shapes);
      cvtest::setFormats(*d.host, shape(name).format);
      const Rendered& want = d.expected.at(name);
      const UnitText empty(build.width(), std::size_t{0});
      std::size_t read = 0;
      {
        Traffic t(*d.host);
        auto once = [&] {
          t.writeText(P2, empty.data());
          const std::int32_t lines = t.lineCount(P1);
          readFormat(t);
          t.readColumnDefinition(P1);
          read = t.readCells(P1, d.refs, lines, 32000, d.cellBuffer.data());
          t.writeText(P2, want.units.data());
        };
        if (first) {
          const auto known = d.pluginTraffic.find(name);
          checkTraffic(
              state,
              known == d.pluginTraffic.end() ? std::nullopt : std::optional<TrafficCounts>(known->second),
              countTraffic(*d.host, once));
        }
        for (auto _ : state) once();
      }
      if (read == 0 || d.host->text(P2).size() != want.text.size())
        fail(state, "the floor did not read every cell");
      countCells(state, d.cells, want.text.size(), build);
    });
    if (withMemcpy) {
      registerBench(benchName("ListToFormattedString", build, size, name, "memcpy"),
                    [=](benchmark::State& state, bool) {
                      ListData& d = listData(build, rows, shapes);
                      const std::size_t chars = d.expected.at(name).text.size();
                      memcpyBody(state, chars * unit(build), d.cells);
                    });
    }
  }
}

// --- FormattedStringToList ------------------------------------------------------

struct TextData {
  std::unique_ptr<Host> host;
  std::vector<std::int16_t> refs;
  Rows expected;
  std::uint64_t cells = 0;
  std::size_t characters = 0;
  UnitText packedCells;  // what the floor stores
  std::u32string text;   // kept only for the literal algorithm
  std::optional<TrafficCounts> pluginTraffic;
};

enum class Sized { Cells, Characters };

TextData& textData(const Build& build, const std::string& shapeName, Sized sized, std::size_t amount,
                   bool keepText) {
  const std::string key = "fstl/" + std::string(build.file) + "/" + shapeName + "/" + std::to_string(amount) +
                          (sized == Sized::Cells ? "c" : "t") + (keepText ? "+text" : "");
  return dataSet<TextData>(key, [&] {
    const Shape& s = shape(shapeName);
    auto d = std::make_shared<TextData>();
    const std::size_t rows = sized == Sized::Cells ? amount / s.columns : rowsForLength(s, amount);
    d->expected = s.makeRows(rows);
    d->cells = cellCount(d->expected);
    d->packedCells = packCells(build.width(), d->expected);
    std::u32string text = cvtest::literalRender(d->expected, s.columns, s.format);
    d->characters = text.size();
    if (keepText) d->text = text;
    d->host = std::make_unique<Host>(plugin(build));
    d->host->load();
    const auto names = columnNames(s.columns);
    d->host->setText(P1, std::move(text));
    d->host->setList(P2, names);
    cvtest::setFormats(*d->host, s.format);
    d->refs = Traffic(*d->host).references(names);
    return d;
  });
}

std::string sizeName(Sized sized, std::size_t amount) {
  return (sized == Sized::Cells ? "cells:" : "text:") + shortCount(amount);
}

void registerFstl(const Build& build, const std::string& name, Sized sized, std::size_t amount,
                  bool withFloor, bool withMemcpy) {
  const std::string size = sizeName(sized, amount);
  registerBench(benchName("FormattedStringToList", build, size, name, "plugin"),
                [=](benchmark::State& state, bool first) {
                  TextData& d = textData(build, name, sized, amount, false);
                  const int result = runWarm(state, first, *d.host, kFstl, 8, &d.pluginTraffic);
                  if (result != 0 || d.host->list(P2).rows != d.expected)
                    fail(state, "wrong list, result " + std::to_string(result));
                  countCells(state, d.cells, d.characters, build);
                  state.counters["characters"] = static_cast<double>(d.characters);
                });
  if (withFloor) {
    registerBench(benchName("FormattedStringToList", build, size, name, "floor"),
                  [=](benchmark::State& state, bool first) {
                    TextData& d = textData(build, name, sized, amount, false);
                    const auto lines = static_cast<std::int32_t>(d.expected.size());
                    std::int32_t delivered = 0;
                    bool linesSet = true;
                    {
                      Traffic t(*d.host);
                      auto once = [&] {
                        t.readColumnDefinition(P2);
                        readFormat(t);
                        t.clearList(P2);
                        // The command asks room for the count and, past the text, for
                        // the separators it appends.
                        delivered = t.receiveText(P1, 4 + kAppendedChars * unit(build));
                        linesSet = t.setLines(P2, lines);
                        t.writeCells(P2, d.refs, lines, d.packedCells.data());
                      };
                      if (first) checkTraffic(state, d.pluginTraffic, countTraffic(*d.host, once));
                      for (auto _ : state) once();
                    }
                    if (!linesSet || static_cast<std::size_t>(delivered) != d.characters ||
                        d.host->list(P2).rows != d.expected)
                      fail(state, "the floor did not store every cell");
                    countCells(state, d.cells, d.characters, build);
                    state.counters["characters"] = static_cast<double>(d.characters);
                  });
  }
  if (withMemcpy) {
    registerBench(benchName("FormattedStringToList", build, size, name, "memcpy"),
                  [=](benchmark::State& state, bool) {
                    TextData& d = textData(build, name, sized, amount, false);
                    memcpyBody(state, d.characters * unit(build), d.cells);
                  });
  }
}

// The literal algorithm works on the host's own characters, the same for
// both builds: it is measured once, under the build name "literal".
void registerLiteral(const std::string& name, std::size_t characters) {
  const Build& build = kBuilds[1];
  const std::string size = sizeName(Sized::Characters, characters);
  registerBench(
      benchName("FormattedStringToList", Build{"literal", "literal", build.unicode}, size, name, "literal"),
      [=](benchmark::State& state, bool) {
        TextData& d = textData(build, name, Sized::Characters, characters, true);
        const Shape& s = shape(name);
        cvtest::ParseOutcome outcome;
        for (auto _ : state) {
          outcome = cvtest::literalParse(d.text, s.columns, s.format);
          benchmark::DoNotOptimize(outcome.rows.data());
        }
        if (outcome.result != 0 || outcome.rows != d.expected)
          fail(state, "the literal parse gave another list");
        state.SetItemsProcessed(static_cast<std::int64_t>(d.cells) * state.iterations());
        state.counters["characters"] = static_cast<double>(d.characters);
      })
      ->MinTime(0.1);
}

constexpr std::size_t kRows = 100000;         // one million cells
constexpr std::size_t kBigText = 100000000;   // 100 million characters
constexpr std::size_t kLiteralText = 100000;  // small enough for the literal algorithm
const std::vector<std::string> kHtmlShapes = {"html", "html-variant"};
const std::vector<std::string> kTextShapes = {"html", "near-match", "rare-prefixes"};

}  // namespace

void registerFormatted() {
  for (const Build& build : kBuilds) {
    registerListToFormattedString(build, kRows, kHtmlShapes, true);
    registerListToFormattedString(build, kRows * 10, {"html"}, false);
    for (const auto& name : kHtmlShapes) registerFstl(build, name, Sized::Cells, kRows * 10, true, true);
    for (const auto& name : kTextShapes) {
      registerFstl(build, name, Sized::Characters, kBigText / 10, true, false);
      registerFstl(build, name, Sized::Characters, kBigText, true, true);
    }
  }
  for (const auto& name : kTextShapes) {
    for (const Build& build : kBuilds)
      registerFstl(build, name, Sized::Characters, kLiteralText, false, false);
    registerLiteral(name, kLiteralText);
  }
}

}  // namespace cvbench
