// FormatFile.cpp - key=value lines.
#include "FormatFile.h"

#include "Escapes.h"
#include "Failure.h"
#include "Files.h"

#include <array>

namespace corvane::cli {

namespace {

constexpr std::array<std::string_view, 9> kKeys = {"before",     "after",     "row-prefix",
                                                   "row-suffix", "row-delim", "col-prefix",
                                                   "col-suffix", "col-delim", "escape"};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

FormatValues parseFormatFile(std::string_view text, std::string_view path) {
  FormatValues values;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string origin = std::string(path) + ", line " + std::to_string(lineNumber);
    if (trimmed(line).empty() || trimmed(line).front() == '#') continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) throw Failure(kExitUsage, origin + ": expected key=value");
    const std::string_view key = trimmed(line.substr(0, equals));
    bool known = false;
    for (auto k : kKeys) known = known || k == key;
    if (!known)
      throw Failure(kExitUsage, origin + ": unknown key \"" + printableBytes(key) +
                                    "\" (known: before, after, row-prefix, row-suffix, row-delim, "
                                    "col-prefix, col-suffix, col-delim, escape)");
    std::string_view value = line.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    const auto [at, fresh] = values.emplace(std::string(key), FormatValue{std::string(value), origin});
    if (!fresh) throw Failure(kExitUsage, origin + ": \"" + printableBytes(key) + "\" is given twice");
  }
  return values;
}

FormatValues readFormatFile(std::string_view path) { return parseFormatFile(readInput(path), path); }

}  // namespace corvane::cli
