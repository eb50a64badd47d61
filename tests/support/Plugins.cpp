// Plugins.cpp - see Plugins.h.
#include "Plugins.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace cvtest {

std::string pluginPath(const char* file) {
  return std::string(CORVANE_PLUGIN_DIR) + "/" + file + CORVANE_PLUGIN_SUFFIX;
}

const Plugin& plugin(const char* file) {
  static std::map<std::string, std::unique_ptr<Plugin>> loaded;
  auto& slot = loaded[file];
  if (!slot) {
    std::string error;
    slot = Plugin::open(pluginPath(file), &error);
    if (!slot) {
      std::fprintf(stderr, "cannot open %s: %s\n", pluginPath(file).c_str(), error.c_str());
      std::abort();
    }
  }
  return *slot;
}

Faults::Faults(const Plugin& p)
    : arm(reinterpret_cast<corvane::host::ArmFaultsFunction>(p.symbol(corvane::host::kArmFaultsSymbol))),
      points(
          reinterpret_cast<corvane::host::FaultPointsFunction>(p.symbol(corvane::host::kFaultPointsSymbol))) {
}

void setFormats(Host& host, const FormatStrings& f) {
  host.setText(P3, f.rowPrefix);
  host.setText(P4, f.rowSuffix);
  host.setText(P5, f.rowDelim);
  host.setText(P6, f.colPrefix);
  host.setText(P7, f.colSuffix);
  host.setText(P8, f.colDelim);
}

std::vector<std::u32string> columnNames(size_t count, const char* stem) {
  std::vector<std::u32string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) names.push_back(corvane::host::ascii(stem + std::to_string(i)));
  return names;
}

}  // namespace cvtest
