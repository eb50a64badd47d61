// PluginLocator.cpp - the places a plug-in file is looked for.
#include "PluginLocator.h"

#include "Failure.h"

#include <system_error>
#include <vector>

#ifndef CORVANE_PLUGIN_SUFFIX
#define CORVANE_PLUGIN_SUFFIX ".so"
#endif

namespace corvane::cli {

namespace {

std::filesystem::path programDirectory() {
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

}  // namespace

std::string pluginFileName(Build build) {
  return std::string(build == Build::Unicode ? "CorvaneU" : "Corvane") + CORVANE_PLUGIN_SUFFIX;
}

std::filesystem::path findPlugin(Build build) {
  const std::string name = pluginFileName(build);
  std::vector<std::filesystem::path> places;
  const auto here = programDirectory();
  if (!here.empty()) {
    places.push_back(here);
#ifdef CORVANE_INSTALLED_PLUGIN_DIR
    places.push_back((here / CORVANE_INSTALLED_PLUGIN_DIR).lexically_normal());
#endif
  }
#ifdef CORVANE_BUILD_PLUGIN_DIR
  places.emplace_back(CORVANE_BUILD_PLUGIN_DIR);
#endif
  std::string looked;
  for (const auto& place : places) {
    std::error_code error;
    const auto candidate = place / name;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    looked += (looked.empty() ? "" : ", ") + place.string();
  }
  throw Failure(kExitFiles, "cannot find the plug-in file " + name + " (looked in " + looked +
                                "); build it, or name a plug-in file with --plugin");
}

}  // namespace corvane::cli
