// FuzzTools.h - what the fuzz targets of the program's own parsers share:
// the one way they may refuse an input (a Failure with the usage status and
// a message that starts by naming the place) and the check that a text
// shown with escapes stays on one line and reads back as the same
// characters.
#ifndef CORVANE_FUZZ_TOOLS_H
#define CORVANE_FUZZ_TOOLS_H

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Escapes.h"
#include "Failure.h"

namespace cvfuzz {

[[noreturn]] inline void toolCheckFailed(const char* what, std::string_view detail) {
  std::fprintf(stderr, "CHECK FAILED: %s: %.*s\n", what, static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void checkRefusal(const corvane::cli::Failure& failure, std::string_view place) {
  const std::string_view message = failure.what();
  if (failure.status() != corvane::cli::kExitUsage)
    toolCheckFailed("a malformed value is a usage error", message);
  if (message.substr(0, place.size()) != place) toolCheckFailed("the message names the place", message);
}

inline const char* modeName(corvane::cli::TextMode mode) {
  switch (mode) {
    case corvane::cli::TextMode::Unicode:
      return "unicode";
    case corvane::cli::TextMode::Latin1:
      return "latin1";
    default:
      return "bytes";
  }
}

// `value` unescaped in `mode`: refused as above, or characters that, shown
// with escapes, stay on one line and unescape to the same characters.
inline void checkUnescape(std::string_view value, corvane::cli::TextMode mode, const std::string& what) {
  std::u32string text;
  try {
    text = corvane::cli::unescape(value, mode, what);
  } catch (const corvane::cli::Failure& failure) {
    checkRefusal(failure, what + ", character ");
    return;
  }
  const std::string shown = corvane::cli::showEscaped(text, mode);
  if (shown.find('\n') != std::string::npos || shown.find('\r') != std::string::npos)
    toolCheckFailed("a text shown with escapes stays on one line", shown);
  std::u32string again;
  try {
    again = corvane::cli::unescape(shown, mode, "shown");
  } catch (const corvane::cli::Failure& failure) {
    toolCheckFailed(modeName(mode), std::string("a shown text unescapes: ") + failure.what());
  }
  if (again != text)
    toolCheckFailed(modeName(mode), "a shown text unescapes to the same characters: " + shown);
}

}  // namespace cvfuzz

#endif
