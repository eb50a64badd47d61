// fuzz_format_file.cpp - the format-file reader on any bytes: refused with a
// usage message that names the file and line, or values each of which is
// one line of the file under a known key, and whose escapes are read as in
// an option.  Never a crash, a hang or another exception.
#include <cstdint>
#include <string>
#include <string_view>

#include "FormatFile.h"
#include "FuzzTools.h"

namespace {

constexpr std::string_view kPath = "fuzz.fmt";

bool knownKey(std::string_view key) {
  for (std::string_view k : {"before", "after", "row-prefix", "row-suffix", "row-delim", "col-prefix",
                             "col-suffix", "col-delim", "escape"})
    if (k == key) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  corvane::cli::FormatValues values;
  try {
    values = corvane::cli::parseFormatFile(text, kPath);
  } catch (const corvane::cli::Failure& failure) {
    cvfuzz::checkRefusal(failure, std::string(kPath) + ", line ");
    return 0;
  }
  for (const auto& [key, value] : values) {
    if (!knownKey(key)) cvfuzz::toolCheckFailed("only the known keys", key);
    if (value.text.find('\n') != std::string::npos)
      cvfuzz::toolCheckFailed("a value is one line", value.text);
    if (value.origin.rfind(std::string(kPath) + ", line ", 0) != 0)
      cvfuzz::toolCheckFailed("a value knows its line", value.origin);
    if (text.find(value.text) == std::string_view::npos)
      cvfuzz::toolCheckFailed("a value is text of the file", value.text);
    for (auto mode : {corvane::cli::TextMode::Unicode, corvane::cli::TextMode::Bytes})
      cvfuzz::checkUnescape(value.text, mode, value.origin);
  }
  return 0;
}
