// Files.h - input and output files, or standard input and output.
#ifndef CORVANE_TOOLS_FILES_H
#define CORVANE_TOOLS_FILES_H

#include <string>
#include <string_view>

namespace corvane::cli {

// "" and "-" mean standard input / output.
bool isStandardStream(std::string_view path);
// How messages name a file: the path, or "standard input".
std::string inputName(std::string_view path);

// The whole file, bytes unchanged.  Throws Failure (files).
std::string readInput(std::string_view path);

// Writes the bytes.  A regular file is written to a temporary file beside it
// which is then renamed over the path, so a failure leaves the path as it
// was and no partial file behind; a device or pipe is written directly.
// Throws Failure (files).
void writeOutput(std::string_view path, std::string_view bytes);

}  // namespace corvane::cli

#endif
