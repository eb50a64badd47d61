// PluginFile.h - one plug-in library file, opened as the host application
// opens it: its resources are read from the file first, then the library is
// loaded and its entry point found.
#ifndef CORVANE_HOST_PLUGIN_FILE_H
#define CORVANE_HOST_PLUGIN_FILE_H

#include "corvane/CorvaneAbi.h"
#include "Text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::host {

// One command as its declaration string announces it, for example
// "Corvane.ListToString(listField, stringField [,delimByte]):1301001".
struct CommandInfo {
  int id = 0;            // string number - first declaration + 1: what GetPackageId reports
  int stringNumber = 0;  // 1301 ...
  std::string group;     // text before the '.'
  std::string name;      // "ListToString"
  std::vector<std::string> parameters;
  std::vector<bool> optional;  // parallel to parameters
  std::string number;          // the seven digits after ':'
};

// Parses one declaration; nullopt when it does not have the form
// group.name(parameters):number with a seven-digit number.
std::optional<CommandInfo> parseDeclaration(std::string_view declaration);

struct Resources {
  std::string tag;                     // "UCMD" or "7CMD"
  std::uint16_t firstDeclaration = 0;  // bytes 4-5 of the Q7INF record, little-endian
  std::array<std::uint8_t, kCvQ7InfSize> q7inf{};
  std::array<std::string, kCvDeclarationCount> strings;  // string first + i
  std::string group;                                     // the last string, "*..."
  std::vector<CommandInfo> commands;                     // the declarations that parse, in string order
  std::array<std::uint16_t, 4> fileVersion{};
  std::array<std::uint16_t, 4> productVersion{};
  std::string fileDescription;
  std::string fileVersionText;
  std::string internalName;
  std::string originalName;
  std::string productName;
  std::string productVersionText;
};

// The character width a tag announces; nullopt for an unknown tag.
std::optional<CharWidth> widthForTag(std::string_view tag);

// Reads a CorvaneResourceImage (magic checked; texts need not be
// terminated: each is cut at its field's end).
std::optional<Resources> parseResourceImage(const unsigned char* data, std::size_t size, std::string* error);

// Finds the CORVANE_RESOURCE_SECTION section of a little-endian ELF file
// (32-bit or 64-bit) held in memory and parses it.  Every offset and size in
// the file is checked against the buffer.
std::optional<Resources> readElfResources(const unsigned char* data, std::size_t size, std::string* error);

class Plugin {
  struct Key {
    explicit Key() = default;
  };

 public:
  explicit Plugin(Key) {}  // made only by open()

  // Reads the resources, loads the library and finds its entry point.  On
  // failure returns null and, when `error` is given, says why.
  static std::unique_ptr<Plugin> open(const std::filesystem::path& path, std::string* error);

  ~Plugin();
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  CorvaneEntryPoint entry() const noexcept { return entry_; }
  CharWidth width() const noexcept { return width_; }
  const Resources& resources() const noexcept { return resources_; }
  const std::filesystem::path& path() const noexcept { return path_; }
  // Any exported symbol (the test builds export their fault controls), or
  // null.
  void* symbol(const char* name) const noexcept;

 private:
  std::filesystem::path path_;
  Resources resources_;
  CharWidth width_ = CharWidth::Byte;
  void* module_ = nullptr;  // dlopen handle or HMODULE
  CorvaneEntryPoint entry_ = nullptr;
};

// The test builds' fault controls, as exported by CorvaneFaults and
// CorvaneUFaults.
using ArmFaultsFunction = void (*)(int32_t failAt, int32_t failAfter);
using ArmFaultNamedFunction = int32_t (*)(const char* site, int32_t pass);
using FaultPointsFunction = int32_t (*)();
using FaultPointSiteFunction = const char* (*)(int32_t n);
constexpr const char* kArmFaultsSymbol = "CorvaneTestArmFaults";
constexpr const char* kArmFaultNamedSymbol = "CorvaneTestArmFaultNamed";
constexpr const char* kFaultPointsSymbol = "CorvaneTestFaultPoints";
constexpr const char* kFaultPointSiteSymbol = "CorvaneTestFaultPointSite";

}  // namespace corvane::host

#endif
