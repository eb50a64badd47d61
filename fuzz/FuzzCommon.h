// FuzzCommon.h - what every fuzz target shares: the plug-ins, loaded once
// per process as a host keeps them; a fresh Host per input; texts, lists and
// host faults drawn from the input; and the checks that end a run with a
// crash report when the plug-in misbehaves.
//
// The first input byte chooses the build (8-bit or Unicode) and whether
// this input runs with faults: a failing allocation, resize or lock in the
// test build, and misbehaviours of the host.  Inputs without faults are
// compared with a model of the command wherever a model exists.
#ifndef CORVANE_FUZZ_COMMON_H
#define CORVANE_FUZZ_COMMON_H

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Host.h"
#include "Plugins.h"

namespace cvfuzz {

// The builds, their plug-ins, fields and commands: the test-support library's.
using namespace cvtest;
using corvane::host::HostFaults;

// The plug-in of a build (0: 8-bit, 1: Unicode), shipped or with faults.
inline const Plugin& pluginOf(bool unicode, bool faulty) {
  const cvtest::Build& build = cvtest::kBuilds[unicode ? 1 : 0];
  return cvtest::plugin(faulty ? build.faultFile : build.file);
}

// Loads all four before fuzzing starts, so that the plug-ins' coverage
// counters are known from the first input on.
inline void loadPlugins() {
  for (bool unicode : {false, true})
    for (bool faulty : {false, true}) pluginOf(unicode, faulty);
}

}  // namespace cvfuzz

// The libFuzzer initialisation of a target that drives the plug-ins.
#define CVFUZZ_LOAD_PLUGINS_FIRST                      \
  extern "C" int LLVMFuzzerInitialize(int*, char***) { \
    ::cvfuzz::loadPlugins();                           \
    return 0;                                          \
  }

// The libFuzzer entry points of a target whose input starts with its
// setting (see readSetting); the body is
//   int body(FuzzedDataProvider& data, const Setting& setting, Chars& chars).
#define CVFUZZ_PLUGIN_TARGET(body, allowHostFaults)                                 \
  CVFUZZ_LOAD_PLUGINS_FIRST                                                         \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {        \
    FuzzedDataProvider data(bytes, size);                                           \
    const ::cvfuzz::Setting setting = ::cvfuzz::readSetting(data, allowHostFaults); \
    ::cvfuzz::Chars chars(data, setting.unicode);                                   \
    return body(data, setting, chars);                                              \
  }

namespace cvfuzz {

[[noreturn]] inline void fail(const char* what, long long got, long long expected) {
  std::fprintf(stderr, "CHECK FAILED: %s (got %lld, expected %lld)\n", what, got, expected);
  std::abort();
}

#define CVFUZZ_CHECK(cond, what)             \
  do {                                       \
    if (!(cond)) ::cvfuzz::fail(what, 0, 1); \
  } while (0)
#define CVFUZZ_CHECK_EQ(got, expected, what)                   \
  do {                                                         \
    const long long cvGot = static_cast<long long>(got);       \
    const long long cvWant = static_cast<long long>(expected); \
    if (cvGot != cvWant) ::cvfuzz::fail(what, cvGot, cvWant);  \
  } while (0)

// Characters: mostly from a small alphabet, so that separators occur and
// nearly occur; sometimes any character the build holds, zero included.
class Chars {
 public:
  Chars(FuzzedDataProvider& data, bool unicode) : data_(data), unicode_(unicode) {}

  bool unicode() const { return unicode_; }

  char32_t any() {
    if (unicode_) {
      switch (data_.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
          return data_.ConsumeIntegral<uint32_t>();  // past U+10FFFF and top bit set too
        case 1:
          return data_.ConsumeIntegralInRange<char32_t>(0x80, 0x10FFFF);
        default:
          return data_.ConsumeIntegralInRange<char32_t>(0, 0x7F);
      }
    }
    return data_.ConsumeIntegral<uint8_t>();
  }

  char32_t one(const std::u32string& alphabet, bool allowZero) {
    const int n = static_cast<int>(alphabet.size());
    const int pick = data_.ConsumeIntegralInRange<int>(0, 2 * n);
    if (pick < 2 * n) return alphabet[static_cast<size_t>(pick % n)];
    char32_t c = any();
    if (c == 0 && !allowZero) c = U'~';
    return c;
  }

  std::u32string text(size_t length, const std::u32string& alphabet, bool allowZero) {
    std::u32string s;
    s.reserve(length);
    for (size_t i = 0; i < length && data_.remaining_bytes() > 0; ++i) s += one(alphabet, allowZero);
    return s;
  }

  // A length that favours the edges: empty, short, 254 to 256, longer.
  size_t length(size_t shortMax, size_t longMax) {
    switch (data_.ConsumeIntegralInRange<int>(0, 9)) {
      case 0:
        return 0;
      case 1:
        return data_.ConsumeIntegralInRange<size_t>(254, 256);
      case 2:
        return data_.ConsumeIntegralInRange<size_t>(0, longMax);
      default:
        return data_.ConsumeIntegralInRange<size_t>(0, shortMax);
    }
  }

 private:
  FuzzedDataProvider& data_;
  bool unicode_;
};

// One input's setting: the build and, for some inputs, the faults.
struct Setting {
  bool unicode = false;
  bool faulty = false;      // any fault below is in force
  int32_t failAt = 0;       // allocation, resize or lock that fails (test build)
  bool failOnward = false;  // and every later one
  HostFaults hostFaults;
};

inline Setting readSetting(FuzzedDataProvider& data, bool allowHostFaults = true) {
  Setting s;
  const uint8_t first = data.ConsumeIntegral<uint8_t>();
  s.unicode = (first & 1) != 0;
  if ((first & 0xE0) != 0xE0) return s;  // most inputs run without faults
  s.faulty = true;
  if ((first & 2) != 0) {
    s.failAt = data.ConsumeIntegralInRange<int32_t>(1, 12);
    s.failOnward = (first & 4) != 0;
  }
  if (allowHostFaults && (first & 8) != 0) {
    const uint8_t bits = data.ConsumeIntegral<uint8_t>();
    HostFaults& f = s.hostFaults;
    f.listOpHighBitsOnly = (bits & 1) != 0;
    if ((bits & 2) != 0) f.lineCountDelta = (bits & 0x40) != 0 ? 1 : -1;
    f.dropHandle = (bits & 4) != 0;
    f.replaceHandle = (bits & 8) != 0;
    f.exactHandleSize = (bits & 16) != 0;
    if ((bits & 32) != 0) f.lengthShortBy = data.ConsumeIntegralInRange<int32_t>(-3, 40);
    if ((bits & 0x80) != 0) {
      // Lengths the plug-in must refuse before it allocates (their byte
      // counts do not fit a block), and small ones below the real length.
      // Lengths it may allocate for, up to 2 GiB, are the limits tests'.
      static const int32_t kLengths[] = {
          0x7FFFFFFF, 0x7FFFFFF8, -1,         INT32_MIN, 1,
          2,          7,          0x20000000, 0x1FFFFFFE};  // the last two: Unicode only
      f.forcedLength = kLengths[data.ConsumeIntegralInRange<size_t>(0, s.unicode ? 8 : 6)];
    }
  }
  return s;
}

// Runs one command on a loaded host and checks what holds for every command
// whatever the input: field 200 written once, with one of the plug-in's
// result codes, and a failing allocation never reported as success.
//
// Loading an instance takes its two working buffers (5 MiB and more), which
// under AddressSanitizer costs far more than most commands: mapping,
// poisoning and unmapping the block and its shadow.  So a host and its
// instance serve many inputs, as a host keeps an instance for many
// commands, as long as that leaves each input the state a fresh instance
// would give it.  Only ListToString and ListToFormattedString write into a
// working buffer, and only a text past its first growth point grows it:
// the instance is loaded anew after a command that may have built such a
// text, with or without faults (they are armed after the load, so an
// instance that did not grow is as a fresh one left it; everything else it
// keeps, every command rewrites).  The host's fields are emptied after
// each input, so that an input frees what it allocated and LeakSanitizer's
// check is not repeated for it; the host is made anew every 1,000 inputs,
// before the references it hands out for column names could run short.
class Run {
 public:
  explicit Run(const Setting& s)
      : setting_(s), plugin_(pluginOf(s.unicode, s.faulty)), cached_(cache(s.unicode, s.faulty)) {
    if (!cached_.host || ++cached_.uses >= 1000) {
      cached_.host.reset();  // unloads
      cached_.host = std::make_unique<Host>(plugin_);
      cached_.uses = 0;
    }
    if (cached_.host->slot() == nullptr) cached_.host->load();
    CVFUZZ_CHECK(cached_.host->slot() != nullptr, "load gives a block");
    cached_.host->faults() = s.hostFaults;
  }
  ~Run() {
    Host& h = *cached_.host;
    const size_t unit = setting_.unicode ? 4 : 1;
    if (reload_ || (!h.isList(P2) && h.text(P2).size() * unit > kMayHaveGrown)) {
      h.unload();
      CVFUZZ_CHECK(h.slot() == nullptr, "unload clears the slot");
    }
    h.faults() = HostFaults{};
    for (int16_t field : {int16_t{kCvFieldResult}, int16_t{kCvFieldParamCount}, int16_t{P1}, int16_t{P2},
                          int16_t{P3}, int16_t{P4}, int16_t{P5}, int16_t{P6}, int16_t{P7}, int16_t{P8}})
      h.clearField(field);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  Host& host() { return *cached_.host; }
  bool unicode() const { return setting_.unicode; }
  // No fault was in force: the outcome must match the model.
  bool exact() const { return !setting_.faulty; }
  // The command built a text of this many characters (before the host cut
  // it at a zero character): load the instance anew if that may have grown
  // a working buffer.
  void built(size_t chars) {
    if (chars * (setting_.unicode ? 4 : 1) > kMayHaveGrown) reload_ = true;
  }

  int execute(int32_t command, int params) {
    Host& h = host();
    mayGrowBuffers(command);
    h.setCommand(command);
    h.setParamCount(params);
    const bool armed = setting_.failAt > 0;
    const Faults faults(plugin_);
    if (armed) setting_.failOnward ? faults.failFrom(setting_.failAt) : faults.failOnly(setting_.failAt);
    h.execute();
    const int result = h.result();
    CVFUZZ_CHECK_EQ(h.resultWrites(), 1, "field 200 is written once per execute");
    CVFUZZ_CHECK(result == 0 || result == 2 || result == 3 || result == 4 || result == 5,
                 "one of the plug-in's result codes");
    if (armed) {
      const bool reached = faults.points() >= setting_.failAt;
      // A working buffer that cannot grow by half grows by its step
      // instead: that one failure alone is made good.
      const std::string failed = faults.site(setting_.failAt);
      const bool madeGood = !setting_.failOnward &&
                            (failed == "ScratchBuffer growth" || failed == "BigBuffer growth") &&
                            faults.site(setting_.failAt + 1) == failed + " by a step";
      faults.off();
      if (reached && !madeGood) CVFUZZ_CHECK(result != 0, "a failed allocation is not reported as success");
      // The instance stays usable: the same command runs again without the
      // failure (its outcome is checked by the caller's model only for
      // inputs without faults).
      h.execute();
      CVFUZZ_CHECK_EQ(h.resultWrites(), 1, "field 200 is written once per execute");
      CVFUZZ_CHECK(h.result() >= 0 && h.result() <= 5, "a result code after a failure");
    }
    return result;
  }

 private:
  // Below the ScratchBuffer's first growth (32,000 bytes of text), and so
  // below the BigBuffer's.
  static constexpr size_t kMayHaveGrown = 30000;

  // Marks the instance for a new load when the command may write past the
  // first growth point of a working buffer: at most every column the
  // definition can name (400 when the host gives its own), each with its
  // longest cell, framed by the format strings (255 characters each).
  void mayGrowBuffers(int32_t command) {
    if ((command != kLts && command != kLtfs) || !host().isList(P1)) return;
    const bool formatted = command == kLtfs;
    const size_t cellMost = formatted ? 32000 : 255;
    size_t cellFrame = formatted ? 3 * 255 : 1;  // prefix, suffix, colDelim, or the delimiter
    size_t rowFrame = formatted ? 3 * 255 : 0;   // rowPrefix, rowSuffix, rowDelim
    if (formatted && !setting_.faulty) {
      // A host that keeps to the maxima gives each format string as it is,
      // cut at 255: no frame is longer than the six of them together.
      size_t strings = 0;
      for (int16_t field = P3; field <= P8; ++field)
        if (!host().isList(field)) strings += std::min<size_t>(host().text(field).size(), 255);
      cellFrame = rowFrame = strings;
    }
    const corvane::host::List& list = host().list(P1);
    const size_t columns = host().faults().listDefinition ? 400 : std::max<size_t>(list.columns.size(), 1);
    const size_t unit = setting_.unicode ? 4 : 1;
    size_t chars = 1;
    for (const auto& row : list.rows) {
      size_t longest = 0;
      for (const auto& cell : row) longest = std::max(longest, std::min(cell.size(), cellMost));
      chars += rowFrame + columns * (longest + cellFrame);
      if (chars * unit > kMayHaveGrown) {
        reload_ = true;
        return;
      }
    }
  }

  struct Cached {
    std::unique_ptr<Host> host;
    int uses = 0;
  };
  static Cached& cache(bool unicode, bool faulty) {
    static Cached cached[2][2];
    return cached[unicode][faulty];
  }

  Setting setting_;
  const Plugin& plugin_;
  Cached& cached_;
  bool reload_ = false;
};

// A column count: half the time 1 to `few`, else up to the 400 a list may have.
// Most inputs are small, so that a target runs many a second; one in 64 may
// be large: hundreds of columns, many rows, long cells and texts.
inline bool largeInput(FuzzedDataProvider& data) { return data.ConsumeIntegralInRange<int>(0, 63) == 0; }

// A few columns, or (for a large input, half the time) up to 400.
inline size_t columnCount(FuzzedDataProvider& data, size_t few = 4, bool large = true) {
  return !large || data.ConsumeBool() ? data.ConsumeIntegralInRange<size_t>(1, few)
                                      : data.ConsumeIntegralInRange<size_t>(1, 400);
}

}  // namespace cvfuzz

#endif
