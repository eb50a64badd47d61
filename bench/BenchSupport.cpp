// BenchSupport.cpp - plug-in loading, data sets, host-interface floors.
#include "BenchSupport.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "HostHandles.h"
#include "Text.h"

namespace cvbench {

using corvane::host::Handle;
using corvane::host::readUnit;
using corvane::host::unitBytes;
using corvane::host::writeUnit;

namespace {
std::string gDataKey;
std::shared_ptr<void> gData;
}  // namespace

void* currentDataSet(const std::string& key, const std::function<std::shared_ptr<void>()>& make) {
  if (gData == nullptr || gDataKey != key) {
    gData.reset();  // free the previous data set before building the next
    gDataKey = key;
    gData = make();
  }
  return gData.get();
}

void releaseDataSets() {
  gData.reset();
  gDataKey.clear();
}

std::u32string cellText(std::uint64_t index, std::size_t length) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::u32string cell(length, U'a');
  std::uint64_t x = index * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  for (std::size_t i = 0; i < length; ++i) {
    x ^= x >> 29;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 32;
    cell[i] = static_cast<char32_t>(kAlphabet[x % 62]);
  }
  return cell;
}

Rows makeRows(std::size_t rows, std::size_t columns, std::size_t cellLength) {
  Rows out(rows);
  std::uint64_t index = 0;
  for (auto& row : out) {
    row.reserve(columns);
    for (std::size_t c = 0; c < columns; ++c) row.push_back(cellText(index++, cellLength));
  }
  return out;
}

std::uint64_t cellCount(const Rows& rows) {
  std::uint64_t n = 0;
  for (const auto& row : rows) n += row.size();
  return n;
}

std::uint64_t totalLength(const Rows& rows) {
  std::uint64_t n = 0;
  for (const auto& row : rows)
    for (const auto& cell : row) n += cell.size();
  return n;
}

std::u32string joinCells(const Rows& rows, char32_t delimiter) {
  std::u32string text;
  text.reserve(totalLength(rows) + cellCount(rows));
  for (const auto& row : rows)
    for (const auto& cell : row) {
      text += cell;
      text += delimiter;
    }
  return text;
}

std::string shortCount(std::uint64_t n) {
  if (n >= 1000000 && n % 1000000 == 0) return std::to_string(n / 1000000) + "M";
  if (n >= 1000 && n % 1000 == 0) return std::to_string(n / 1000) + "k";
  return std::to_string(n);
}

// --- Traffic -----------------------------------------------------------------

Traffic::Traffic(Host& host) : host_(host), scope_(host), cb_(Host::callback()), width_(host.width()) {}

std::int16_t Traffic::reference(const std::u32string& name) const { return host_.reference(name); }

std::vector<std::int16_t> Traffic::references(const std::vector<std::u32string>& names) const {
  std::vector<std::int16_t> refs;
  for (const auto& name : names) refs.push_back(reference(name));
  return refs;
}

std::int32_t Traffic::lineCount(std::int16_t list) {
  double lines = 0;
  std::int32_t pair[2] = {0, 10};
  cb_(kCvOpGetLstVal, int{list}, int{Host::kLineCountRef}, int{kCvKindDouble}, static_cast<void*>(&lines),
      static_cast<void*>(pair));
  return static_cast<std::int32_t>(lines);
}

void Traffic::clearList(std::int16_t list) {
  cb_(kCvOpDoListOp, int{kCvListClear}, int{list}, std::int32_t{0});
}

bool Traffic::setLines(std::int16_t list, std::int32_t lines) {
  const bool ok = (cb_(kCvOpDoListOp, int{kCvListSetLines}, int{list}, lines) & 0xFF) != 0;
  return !ok || lineCount(list) == lines;
}

void Traffic::readParameter(std::int16_t field, void* slot) {
  cb_(kCvOpGetFldVal, int{field}, int{kCvKindString}, std::int32_t{255}, slot);
}

void Traffic::readColumnDefinition(std::int16_t list) {
  static thread_local std::vector<unsigned char> definition(64000);
  cb_(kCvOpGetListDef, int{list}, int{static_cast<std::int16_t>(64000)},
      static_cast<void*>(definition.data()));
}

namespace {

template <class Unit>
std::size_t readCellsAs(HostCallback cb, std::int16_t list, const std::vector<std::int16_t>& refs,
                        std::int32_t rows, std::int32_t maximum, Unit* out) {
  std::size_t used = 0;
  std::int32_t pair[2] = {0, maximum};
  for (std::int32_t row = 1; row <= rows; ++row) {
    pair[0] = row;
    for (const std::int16_t ref : refs) {
      cb(kCvOpGetLstVal, int{list}, int{ref}, int{kCvKindString}, static_cast<void*>(out + used),
         static_cast<void*>(pair));
      while (out[used] != 0) ++used;
    }
  }
  return used;
}

template <class Unit>
void writeCellsAs(HostCallback cb, std::int16_t list, const std::vector<std::int16_t>& refs,
                  std::int32_t rows, const Unit* cells) {
  for (std::int32_t row = 1; row <= rows; ++row) {
    for (const std::int16_t ref : refs) {
      cb(kCvOpSetLstVal, int{list}, row, int{ref}, int{kCvKindString},
         const_cast<void*>(static_cast<const void*>(cells)));
      while (*cells != 0) ++cells;
      ++cells;
    }
  }
}

}  // namespace

std::size_t Traffic::readCells(std::int16_t list, const std::vector<std::int16_t>& refs, std::int32_t rows,
                               std::int32_t maximum, void* out) {
  if (width_ == CharWidth::Byte)
    return readCellsAs(cb_, list, refs, rows, maximum, static_cast<std::uint8_t*>(out));
  return readCellsAs(cb_, list, refs, rows, maximum, static_cast<std::uint32_t*>(out));
}

void Traffic::writeCells(std::int16_t list, const std::vector<std::int16_t>& refs, std::int32_t rows,
                         const void* cells) {
  if (width_ == CharWidth::Byte)
    writeCellsAs(cb_, list, refs, rows, static_cast<const std::uint8_t*>(cells));
  else
    writeCellsAs(cb_, list, refs, rows, static_cast<const std::uint32_t*>(cells));
}

void Traffic::writeText(std::int16_t field, const void* text) {
  cb_(kCvOpSetFldVal, int{field}, int{kCvKindString}, const_cast<void*>(text));
}

std::int32_t Traffic::receiveText(std::int16_t field, std::size_t extraBytes) {
  std::int32_t length = 0;
  cb_(kCvOpGetFldVal, int{field}, int{kCvKindLength}, std::int32_t{4}, static_cast<void*>(&length));
  // The plug-in zero-fills only small blocks; the host overwrites this one.
  const std::size_t size = static_cast<std::size_t>(length) * unitBytes(width_) + extraBytes;
  Handle handle = corvane::host::newHandleToOverwrite(size, size);
  cb_(kCvOpGetFldVal, int{field}, int{kCvKindHandle}, std::int32_t{0}, static_cast<void*>(&handle));
  std::int32_t count = -1;
  if (void* data = corvane::host::lockHandle(handle)) {
    std::memcpy(&count, data, sizeof count);
    corvane::host::unlockHandle(handle);
  }
  corvane::host::disposeHandle(handle);
  return count;
}

// --- UnitText --------------------------------------------------------------------

UnitText::UnitText(CharWidth width, const std::u32string& text) : UnitText(width, text.size()) {
  corvane::host::writeUnits(bytes_.data(), width, text.data(), text.size());
}

UnitText::UnitText(CharWidth width, std::size_t units) : bytes_((units + 1) * unitBytes(width), 0) {}

UnitText packCells(CharWidth width, const Rows& rows) {
  UnitText packed(width, static_cast<std::size_t>(totalLength(rows) + cellCount(rows)));
  std::size_t at = 0;
  for (const auto& row : rows)
    for (const auto& cell : row) {
      corvane::host::writeUnits(static_cast<unsigned char*>(packed.data()) + at * unitBytes(width), width,
                                cell.data(), cell.size());
      at += cell.size() + 1;  // the terminator is already 0
    }
  return packed;
}

// --- traffic ---------------------------------------------------------------------

namespace {
const std::int32_t kTrafficOps[] = {kCvOpGetFldVal, kCvOpSetFldVal, kCvOpGetLstVal,
                                    kCvOpSetLstVal, kCvOpDoListOp,  kCvOpGetListDef};
}  // namespace

std::string TrafficCounts::describe() const {
  std::string text =
      std::to_string(cellsRead) + " cells read, " + std::to_string(cellsWritten) + " written, calls";
  for (std::size_t i = 0; i < calls.size(); ++i)
    text += " " + std::to_string(kTrafficOps[i]) + ":" + std::to_string(calls[i]);
  return text;
}

TrafficCounts countTraffic(Host& host, const std::function<void()>& run) {
  host.resetStats();
  run();
  TrafficCounts counts;
  const auto& stats = host.stats();
  counts.cellsRead = stats.cellsRead;
  counts.cellsWritten = stats.cellsWritten;
  for (const std::int32_t op : kTrafficOps) counts.calls.push_back(stats.callsOf(op));
  return counts;
}

void fail(benchmark::State& state, const std::string& message) {
  if (!state.error_occurred()) state.SkipWithError(message.c_str());
}

void checkTraffic(benchmark::State& state, const std::optional<TrafficCounts>& plugin,
                  const TrafficCounts& floor) {
  if (plugin && !(*plugin == floor))
    fail(state,
         "the floor's traffic (" + floor.describe() + ") is not the command's (" + plugin->describe() + ")");
}

// --- registration ----------------------------------------------------------------

std::string benchName(const char* command, const Build& build, const std::string& size,
                      const std::string& data, const char* impl) {
  return std::string(command) + "/" + build.file + "/" + size + "/" + data + "/" + impl;
}

benchmark::internal::Benchmark* registerBench(const std::string& name, Body body) {
  auto called = std::make_shared<bool>(false);
  return benchmark::RegisterBenchmark(name.c_str(),
                                      [body, called](benchmark::State& state) {
                                        const bool first = !*called;
                                        *called = true;
                                        body(state, first);
                                      })
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->MinTime(0.2);
}

int runCommand(Host& host, std::int32_t command, int params) {
  host.setCommand(command);
  host.setParamCount(params);
  host.execute();
  return host.result();
}

int runWarm(benchmark::State& state, bool first, Host& host, std::int32_t command, int params,
            std::optional<TrafficCounts>* traffic) {
  int result = Host::kNoResult;
  if (first) {
    const TrafficCounts counts = countTraffic(host, [&] { runCommand(host, command, params); });
    if (traffic != nullptr) *traffic = counts;
  }
  for (auto _ : state) result = runCommand(host, command, params);
  return result;
}

int runFresh(benchmark::State& state, bool first, Host& host, std::int32_t command, int params) {
  int result = Host::kNoResult;
  if (first) {
    host.unload();
    host.load();
    runCommand(host, command, params);
  }
  for (auto _ : state) {
    state.PauseTiming();
    host.unload();
    host.load();
    state.ResumeTiming();
    result = runCommand(host, command, params);
  }
  return result;
}

void memcpyBody(benchmark::State& state, std::size_t bytes, std::uint64_t items) {
  std::vector<unsigned char> from(bytes, 1), to(bytes, 0);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(items) * state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

}  // namespace cvbench

int main(int argc, char** argv) {
  // The commands that read a whole text take a block of its size for it
  // in every run, tens of megabytes in the Unicode build.  Left to itself
  // the C library maps every block above 32 MB afresh and unmaps it when it
  // is freed, so each run pays for faulting in its pages; the floors'
  // blocks alike.  Keep such blocks in the heap for the next run, as the
  // command-line program does with its batches.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  cvbench::registerListString();
  cvbench::registerFormatted();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  cvbench::releaseDataSets();
  benchmark::Shutdown();
  return 0;
}
