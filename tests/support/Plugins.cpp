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

namespace {
template <class Function>
Function symbolOf(const Plugin& p, const char* name) {
  return reinterpret_cast<Function>(p.symbol(name));
}
}  // namespace

Faults::Faults(const Plugin& p)
    : arm(symbolOf<corvane::host::ArmFaultsFunction>(p, corvane::host::kArmFaultsSymbol)),
      armNamed(symbolOf<corvane::host::ArmFaultNamedFunction>(p, corvane::host::kArmFaultNamedSymbol)),
      points(symbolOf<corvane::host::FaultPointsFunction>(p, corvane::host::kFaultPointsSymbol)),
      siteOf(symbolOf<corvane::host::FaultPointSiteFunction>(p, corvane::host::kFaultPointSiteSymbol)) {}

bool Faults::fail(const std::vector<SitePass>& sites) const {
  arm(0, 0);
  bool known = true;
  for (const SitePass& s : sites) known = armNamed(s.site, s.pass) != 0 && known;
  return known;
}

std::string Faults::site(int32_t n) const {
  const char* name = siteOf(n);
  return name != nullptr ? name : "";
}

std::vector<std::string> Faults::sites() const {
  std::vector<std::string> out;
  const int32_t n = points();
  for (int32_t i = 1; i <= n; ++i) out.push_back(site(i));
  return out;
}

int32_t Faults::position(const std::vector<std::string>& sites, const std::string& site, int32_t pass) {
  for (size_t i = 0; i < sites.size(); ++i)
    if (sites[i] == site && --pass == 0) return static_cast<int32_t>(i + 1);
  return 0;
}

int32_t Faults::passes(const std::string& name) const {
  int32_t count = 0;
  for (const std::string& s : sites()) count += s == name ? 1 : 0;
  return count;
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
