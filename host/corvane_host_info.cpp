// corvane-host-info - opens each plug-in file named on the command line as
// the host does and prints what the host learns from it: tag and character
// width, group, commands with their parameters, version numbers and texts.
#include "PluginFile.h"

#include <cstdio>
#include <string>

namespace {

using corvane::host::CharWidth;
using corvane::host::Plugin;
using corvane::host::Resources;

std::string versionNumbers(const std::array<std::uint16_t, 4>& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
         std::to_string(v[3]);
}

void print(const Plugin& plugin) {
  const Resources& res = plugin.resources();
  const bool unicode = plugin.width() == CharWidth::Unicode;
  std::printf("%s\n", plugin.path().string().c_str());
  std::printf("  tag:             %s (%s host characters, %u byte%s each)\n", res.tag.c_str(),
              unicode ? "Unicode" : "byte", static_cast<unsigned>(plugin.width()), unicode ? "s" : "");
  std::printf("  first string:    %u\n", static_cast<unsigned>(res.firstDeclaration));
  std::printf("  group:           %s\n", res.group.c_str());
  std::printf("  commands:        %zu\n", res.commands.size());
  for (const auto& command : res.commands) {
    std::string params;
    for (std::size_t i = 0; i < command.parameters.size(); ++i) {
      if (i != 0) params += ", ";
      params += command.optional[i] ? "[" + command.parameters[i] + "]" : command.parameters[i];
    }
    std::printf("    %d %-22s %s  string %d  (%s)\n", command.id, command.name.c_str(),
                command.number.c_str(), command.stringNumber, params.c_str());
  }
  for (std::size_t i = 0; i < res.strings.size(); ++i)
    std::printf("  string %-4zu     \"%s\"\n", res.firstDeclaration + i, res.strings[i].c_str());
  std::printf("  file version:    %s \"%s\"\n", versionNumbers(res.fileVersion).c_str(),
              res.fileVersionText.c_str());
  std::printf("  product version: %s \"%s\"\n", versionNumbers(res.productVersion).c_str(),
              res.productVersionText.c_str());
  std::printf("  description:     %s\n", res.fileDescription.c_str());
  std::printf("  internal name:   %s\n", res.internalName.c_str());
  std::printf("  original name:   %s\n", res.originalName.c_str());
  std::printf("  product name:    %s\n", res.productName.c_str());
  std::printf("  entry point:     " CORVANE_ENTRY_NAME " found\n");
  const bool faults = plugin.symbol(corvane::host::kArmFaultsSymbol) != nullptr;
  std::printf("  fault controls:  %s\n", faults ? "exported (test build)" : "none");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PLUGIN...\n", argv[0]);
    return 2;
  }
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    std::string error;
    const auto plugin = Plugin::open(argv[i], &error);
    if (!plugin) {
      std::fprintf(stderr, "%s\n", error.c_str());
      ++failures;
      continue;
    }
    print(*plugin);
  }
  return failures == 0 ? 0 : 1;
}
