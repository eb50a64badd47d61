// Plugins.h - what tests, fuzzers and benchmarks need to drive the built
// plug-ins through their entry point with our host: the builds and their
// files, loaded once per process as a host keeps them, the fault controls of
// the test builds, the parameter fields and command numbers, and the six
// format strings of the formatted commands.
#ifndef CORVANE_TESTS_SUPPORT_PLUGINS_H
#define CORVANE_TESTS_SUPPORT_PLUGINS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FormattedOracle.h"
#include "Host.h"

namespace cvtest {

using corvane::host::CharWidth;
using corvane::host::Host;
using corvane::host::Plugin;
using Rows = std::vector<std::vector<std::u32string>>;

// Parameters of the commands, by field, and the command numbers.
enum : int16_t { P1 = 211, P2 = 212, P3 = 213, P4 = 214, P5 = 215, P6 = 216, P7 = 217, P8 = 218 };
enum : int32_t { kFstl = 1, kLtfs = 2, kStl = 3, kLts = 4 };

struct Build {
  const char* file;       // plug-in file name without suffix
  const char* faultFile;  // the same build with fault points
  bool unicode;
  CharWidth width() const { return unicode ? CharWidth::Unicode : CharWidth::Byte; }
};

inline const Build kBuilds[] = {{"Corvane", "CorvaneFaults", false}, {"CorvaneU", "CorvaneUFaults", true}};

// The path of a plug-in file of this build tree.
std::string pluginPath(const char* file);

// The plug-in file, opened on first use and kept open for the whole
// program; a file that does not open ends the program with a message.
const Plugin& plugin(const char* file);

// The fault controls of a test build.  Every allocation, resize and lock
// of the plug-in is a fault point at a named site ("column references",
// "text handle", "BigBuffer growth", ...; source/support/FaultPoints.cpp).
// A test about one site arms it by name, so that it does not depend on how
// many points come before; a sweep arms the n-th point passed (and the k
// after it, or every later one), so that it visits every point there is.
struct Faults {
  corvane::host::ArmFaultsFunction arm = nullptr;
  corvane::host::ArmFaultNamedFunction armNamed = nullptr;
  corvane::host::FaultPointsFunction points = nullptr;
  corvane::host::FaultPointSiteFunction siteOf = nullptr;

  explicit Faults(const Plugin& p);
  bool available() const {
    return arm != nullptr && armNamed != nullptr && points != nullptr && siteOf != nullptr;
  }
  // By count.
  void failOnly(int32_t n) const { arm(n, 0); }
  void failFrom(int32_t n) const { arm(n, -1); }
  void failRun(int32_t n, int32_t count) const { arm(n, count - 1); }
  // Counting from now, nothing armed.
  void count() const { arm(0, 0); }
  void off() const { arm(0, 0); }
  // By name: the pass-th pass of each site from now fails (every pass when
  // 0).  False when a name is no site's.
  struct SitePass {
    const char* site;
    int32_t pass;
  };
  bool fail(const std::vector<SitePass>& sites) const;
  bool fail(const char* site, int32_t pass = 1) const { return fail(std::vector<SitePass>{{site, pass}}); }
  // The site of the n-th point passed since arming ("" past the end).
  std::string site(int32_t n) const;
  // The sites of the points passed since arming, in order.
  std::vector<std::string> sites() const;
  // How often the named site was passed since arming.
  int32_t passes(const std::string& site) const;
  // The point (from 1) of the pass-th pass of a site in `sites`, 0 if none:
  // where to start failing every later point too.
  static int32_t position(const std::vector<std::string>& sites, const std::string& site, int32_t pass = 1);
};
// The six format strings of the formatted commands, into P3 to P8.
void setFormats(Host& host, const FormatStrings& f);

// Distinct column names: stem0, stem1, ...
std::vector<std::u32string> columnNames(size_t count, const char* stem = "c");

}  // namespace cvtest

#endif
