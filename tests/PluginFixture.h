// PluginFixture.h - what every suite needs to drive a built plug-in through
// its exported entry point with our host, in both builds.
#ifndef CORVANE_TESTS_PLUGIN_FIXTURE_H
#define CORVANE_TESTS_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "HeapCheck.h"
#include "Host.h"

namespace cvtest {

using corvane::host::CharWidth;
using corvane::host::Host;
using corvane::host::Plugin;
using Rows = std::vector<std::vector<std::u32string>>;

struct Build {
  const char* file;       // plug-in file name without suffix
  const char* faultFile;  // the same build with fault points
  bool unicode;
};

inline void PrintTo(const Build& build, std::ostream* os) { *os << build.file; }

inline const Build kBuilds[] = {{"Corvane", "CorvaneFaults", false}, {"CorvaneU", "CorvaneUFaults", true}};

inline std::string pluginPath(const char* file) {
  return std::string(CORVANE_PLUGIN_DIR) + "/" + file + CORVANE_PLUGIN_SUFFIX;
}

// Plug-ins stay loaded for the whole test program, as a host keeps them.
inline const Plugin& plugin(const char* file) {
  static std::map<std::string, std::unique_ptr<Plugin>> loaded;
  auto& slot = loaded[file];
  if (!slot) {
    std::string error;
    slot = Plugin::open(pluginPath(file), &error);
    if (!slot) {
      ADD_FAILURE() << "cannot open " << pluginPath(file) << ": " << error;
      std::abort();
    }
  }
  return *slot;
}

// The fault controls of a test build.
struct Faults {
  corvane::host::ArmFaultsFunction arm = nullptr;
  corvane::host::FaultPointsFunction points = nullptr;

  explicit Faults(const Plugin& p)
      : arm(reinterpret_cast<corvane::host::ArmFaultsFunction>(p.symbol(corvane::host::kArmFaultsSymbol))),
        points(reinterpret_cast<corvane::host::FaultPointsFunction>(
            p.symbol(corvane::host::kFaultPointsSymbol))) {}
  void failOnly(int32_t n) const { arm(n, 0); }
  void failFrom(int32_t n) const { arm(n, -1); }
  void failRun(int32_t n, int32_t count) const { arm(n, count - 1); }
  void count() const { arm(0, 0); }
  void off() const { arm(0, 0); }
};

// Parameters of the commands, by field.
enum : int16_t { P1 = 211, P2 = 212, P3 = 213, P4 = 214, P5 = 215, P6 = 216, P7 = 217, P8 = 218 };
enum : int32_t { kFstl = 1, kLtfs = 2, kStl = 3, kLts = 4 };

// A loaded host on either build; `faults` selects the test build.
class PluginTest : public ::testing::TestWithParam<Build> {
 protected:
  bool unicode() const { return GetParam().unicode; }
  const Plugin& shipped() const { return plugin(GetParam().file); }
  const Plugin& withFaults() const { return plugin(GetParam().faultFile); }

  void SetUp() override {
    host = std::make_unique<Host>(shipped());
    host->load();
  }
  // The host unloads its instance first; a block written past its end or
  // after it was freed then fails the test that did it, not the exit.
  void TearDown() override {
    host.reset();
    EXPECT_TRUE(heapsIntact()) << "a heap of the process is damaged";
  }

  // Runs a command and gives its result code.
  int run(int32_t command, int params) {
    host->setCommand(command);
    host->setParamCount(params);
    host->execute();
    EXPECT_EQ(host->resultWrites(), 1) << "field 200 must be written once per execute";
    return host->result();
  }

  // A character the build can hold: any code point in Unicode, a byte otherwise.
  char32_t ch(char32_t unicodeChoice, char32_t byteChoice) const {
    return unicode() ? unicodeChoice : byteChoice;
  }

  std::unique_ptr<Host> host;
};

inline std::string buildName(const ::testing::TestParamInfo<Build>& info) { return info.param.file; }

#define CORVANE_BOTH_BUILDS(Suite) \
  INSTANTIATE_TEST_SUITE_P(Builds, Suite, ::testing::ValuesIn(cvtest::kBuilds), cvtest::buildName)

}  // namespace cvtest

#endif
