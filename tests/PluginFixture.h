// PluginFixture.h - the GoogleTest fixture of the suites that drive a built
// plug-in through its exported entry point, in both builds; the rest comes
// from the test-support library (Plugins.h, HeapCheck.h).
#ifndef CORVANE_TESTS_PLUGIN_FIXTURE_H
#define CORVANE_TESTS_PLUGIN_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "HeapCheck.h"
#include "Plugins.h"

namespace cvtest {

inline void PrintTo(const Build& build, std::ostream* os) { *os << build.file; }

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

// Runs a command on `h` with the first pass of `site` failing, and gives
// its result code; the command must pass the site once.
inline int runFailingAt(Host& h, const Faults& faults, const char* site, int32_t command, int params) {
  h.setCommand(command);
  h.setParamCount(params);
  EXPECT_TRUE(faults.fail(site)) << site << " is a site's name";
  h.execute();
  EXPECT_EQ(faults.passes(site), 1) << site << " is passed once";
  faults.off();
  return h.result();
}

inline std::string buildName(const ::testing::TestParamInfo<Build>& info) { return info.param.file; }

#define CORVANE_BOTH_BUILDS(Suite) \
  INSTANTIATE_TEST_SUITE_P(Builds, Suite, ::testing::ValuesIn(cvtest::kBuilds), cvtest::buildName)

}  // namespace cvtest

#endif
