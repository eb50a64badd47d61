// PluginLocator.h - which plug-in file a command runs.
#ifndef CORVANE_TOOLS_PLUGIN_LOCATOR_H
#define CORVANE_TOOLS_PLUGIN_LOCATOR_H

#include <filesystem>
#include <string_view>

namespace corvane::cli {

enum class Build { Unicode, EightBit };

// "CorvaneU.so" or "Corvane.so".
std::string pluginFileName(Build build);

// The build's plug-in file: next to the program, where `cmake --install`
// puts it beside the installed program, or in the build tree the program was
// built in, in that order.  Throws Failure (files) listing the places looked
// at when none holds it.
std::filesystem::path findPlugin(Build build);

}  // namespace corvane::cli

#endif
