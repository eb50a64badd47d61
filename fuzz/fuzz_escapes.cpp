// fuzz_escapes.cpp - the escapes of option values on any bytes, in every
// text mode: refused with a usage message that names the option and the
// character, or characters that show and read back unchanged.  Never a
// crash, a hang or another exception.
#include <cstdint>
#include <string_view>

#include "FuzzTools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view value(reinterpret_cast<const char*>(data), size);
  for (auto mode :
       {corvane::cli::TextMode::Unicode, corvane::cli::TextMode::Latin1, corvane::cli::TextMode::Bytes})
    cvfuzz::checkUnescape(value, mode, "--row-delim");
  return 0;
}
