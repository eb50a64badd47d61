// BenchSupport.h - what every benchmark of the commands needs: the two
// plug-in builds, the data sets (one alive at a time), the host-interface
// floors and the naming scheme that bench/summarize.py reads.
//
// A benchmark is named  Command/Build/Size/Data/Impl,  for example
// "ListToString/CorvaneU/cells:1M/plain/plugin".  Impl is one of
//   plugin   the command run through the entry point, again and again on one
//            loaded instance;
//   fresh    the same, on a freshly loaded instance every run (so growth of
//            the working buffers that persist between runs is paid each time);
//   floor    our host doing the callback traffic that the command needs,
//            with no plug-in in between;
//   memcpy   a copy of the bytes the command produces or consumes;
//   literal  the literal algorithm of the tests, on the same text.
#ifndef CORVANE_BENCH_SUPPORT_H
#define CORVANE_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host.h"
#include "Plugins.h"

namespace cvbench {

// The builds, their plug-ins, the fields and commands: the test-support
// library's.
using namespace cvtest;

// The shipped plug-in of a build, opened once for the whole program.
inline const Plugin& plugin(const Build& build) { return cvtest::plugin(build.file); }

// --- data sets ----------------------------------------------------------------

// Building a data set of ten million cells takes seconds and a gigabyte, and
// Google Benchmark calls a benchmark function several times: the data set of
// the benchmarks now running is kept, and the previous one freed when the
// key changes.  Benchmarks that share data are registered next to each other.
void* currentDataSet(const std::string& key, const std::function<std::shared_ptr<void>()>& make);

template <class T, class Make>
T& dataSet(const std::string& key, Make make) {
  return *static_cast<T*>(currentDataSet(key, [&]() -> std::shared_ptr<void> { return make(); }));
}

// Ten characters, letters and digits, different from cell to cell.
std::u32string cellText(std::uint64_t index, std::size_t length = 10);
Rows makeRows(std::size_t rows, std::size_t columns, std::size_t cellLength = 10);
// Every cell followed by `delimiter`, row by row.
std::u32string joinCells(const Rows& rows, char32_t delimiter);
std::uint64_t cellCount(const Rows& rows);
std::uint64_t totalLength(const Rows& rows);

// Counts for the names: 1000000 -> "1M", 100000 -> "100k".
std::string shortCount(std::uint64_t n);

// --- host-interface floors --------------------------------------------------------

// The callback traffic of the commands, done by our host's callback with no
// plug-in: each call goes through the same variadic entry and dispatch as a
// plug-in's call.  Texts are in the build's character width.
class Traffic {
 public:
  explicit Traffic(Host& host);
  Traffic(const Traffic&) = delete;
  Traffic& operator=(const Traffic&) = delete;

  CharWidth width() const { return width_; }
  std::int16_t reference(const std::u32string& name) const;
  std::vector<std::int16_t> references(const std::vector<std::u32string>& names) const;

  // The line count of a list, as a command reads it.
  std::int32_t lineCount(std::int16_t list);
  void clearList(std::int16_t list);
  bool setLines(std::int16_t list, std::int32_t lines);
  // A string parameter read into a 258-character slot.
  void readParameter(std::int16_t field, void* slot);
  void readColumnDefinition(std::int16_t list);
  // Every cell of rows 1..rows, row by row, read (kind 2, `maximum`) into
  // `out` one after the other; returns the characters read.
  std::size_t readCells(std::int16_t list, const std::vector<std::int16_t>& refs, std::int32_t rows,
                        std::int32_t maximum, void* out);
  // Stores zero-terminated cells that follow one another in `cells`.
  void writeCells(std::int16_t list, const std::vector<std::int16_t>& refs, std::int32_t rows,
                  const void* cells);
  void writeText(std::int16_t field, const void* text);
  // Asks for a text's length, has it delivered (kind 8) into a handle made
  // as the command makes it, with room for the characters and `extraBytes`
  // more and not zero-filled, then frees the handle; returns the count
  // delivered.
  std::int32_t receiveText(std::int16_t field, std::size_t extraBytes);

 private:
  Host& host_;
  Host::Scope scope_;
  HostCallback cb_;
  CharWidth width_;
};

// Host text in a build's width, one unit per character, zero-terminated.
class UnitText {
 public:
  UnitText() = default;
  UnitText(CharWidth width, const std::u32string& text);
  // Zero-filled room for `units` characters and a terminator.
  UnitText(CharWidth width, std::size_t units);
  void* data() { return bytes_.data(); }
  const void* data() const { return bytes_.data(); }
  std::size_t bytes() const { return bytes_.size(); }

 private:
  std::vector<unsigned char> bytes_;
};

// The cells of `rows`, each zero-terminated, row by row.
UnitText packCells(CharWidth width, const Rows& rows);

// What one run asks of the host: cells read and written, and the calls of
// the operations that move data.  A floor must ask exactly what the command
// asks (the entry point's own calls and the column-name look-ups aside).
struct TrafficCounts {
  std::uint64_t cellsRead = 0;
  std::uint64_t cellsWritten = 0;
  std::vector<std::uint64_t> calls;  // by kTrafficOps
  bool operator==(const TrafficCounts& other) const {
    return cellsRead == other.cellsRead && cellsWritten == other.cellsWritten && calls == other.calls;
  }
  std::string describe() const;
};
TrafficCounts countTraffic(Host& host, const std::function<void()>& run);
// Marks the benchmark as failed when the plug-in's traffic is known and the
// floor's differs from it.
void checkTraffic(benchmark::State& state, const std::optional<TrafficCounts>& plugin,
                  const TrafficCounts& floor);
// SkipWithError, unless an error is already recorded.
void fail(benchmark::State& state, const std::string& message);

// --- registration ---------------------------------------------------------------

std::string benchName(const char* command, const Build& build, const std::string& size,
                      const std::string& data, const char* impl);
// A benchmark body; `first` is true on the first of the calls that Google
// Benchmark makes, when a body that allocates much runs once untimed first,
// so that no measured iteration pays for first touching its memory.
using Body = std::function<void(benchmark::State&, bool first)>;
// Milliseconds, wall-clock time.
benchmark::internal::Benchmark* registerBench(const std::string& name, Body body);

// Runs a command through the entry point, every iteration on the same
// instance, as a host runs a command again and again: the working buffers
// have grown in the untimed first run.  Returns the last result code.
// The first, untimed run's traffic goes to `traffic` when it is given.
int runWarm(benchmark::State& state, bool first, Host& host, std::int32_t command, int params,
            std::optional<TrafficCounts>* traffic = nullptr);
// The same on a freshly loaded instance every iteration, so that each run
// pays for growing the working buffers; the unload and load are not timed.
int runFresh(benchmark::State& state, bool first, Host& host, std::int32_t command, int params);
int runCommand(Host& host, std::int32_t command, int params);

// Frees the data set still held; called before the plug-ins are unloaded.
void releaseDataSets();

// A memcpy of `bytes` bytes between two buffers touched beforehand.
void memcpyBody(benchmark::State& state, std::size_t bytes, std::uint64_t items);

void registerListString();
void registerFormatted();

}  // namespace cvbench

#endif
