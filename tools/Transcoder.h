// Transcoder.h - text between the encoding a file is written in and UTF-8,
// through the C library's iconv.  The program works in UTF-8 inside; a file
// read with --encoding is converted to UTF-8 before it is parsed, and a file
// written with it is converted from UTF-8 after it is rendered.
//
// Input may come in chunks of any size: a multibyte sequence cut at the end
// of one chunk is held back and finished with the next.
#ifndef CORVANE_TOOLS_TRANSCODER_H
#define CORVANE_TOOLS_TRANSCODER_H

#include <iconv.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

// What stopped a conversion.
struct TranscodeProblem {
  std::size_t byteOffset = 0;  // in all the input given so far, counted from 0
  std::size_t line = 1;        // the line of the input it is on
  std::string what;            // "invalid windows-1252 (byte 0x81)", ...
};

class Transcoder {
 public:
  // Throws Failure (usage) when iconv knows neither name; `option` names
  // the option that gave the encoding in that message.
  Transcoder(std::string_view from, std::string_view to, std::string_view option = "--encoding");
  ~Transcoder();
  Transcoder(const Transcoder&) = delete;
  Transcoder& operator=(const Transcoder&) = delete;

  // Converts the chunk, appending to `out`.  `last` says no more input
  // follows, so a sequence left incomplete is an error.  After a problem the
  // converter must not be used again.
  std::optional<TranscodeProblem> convert(std::string_view chunk, std::string& out, bool last);

 private:
  std::optional<TranscodeProblem> problem(const char* what, std::string_view at) const;

  iconv_t cd_;
  std::string from_, to_;
  std::string pending_;       // an incomplete sequence from the end of the last chunk
  std::size_t consumed_ = 0;  // input bytes converted so far
  std::size_t line_ = 1;      // of the input, counted by the line breaks it converted to
};

// True for no encoding or UTF-8 under any of its usual spellings, when the
// program's own UTF-8 handling is enough.
bool isUtf8(std::string_view encoding);

// The whole text converted; throws Failure (input) naming `source`, the line
// and the byte offset where the text is not valid in `from`, or the
// character `to` cannot hold.
std::string transcodeAll(std::string_view bytes, std::string_view from, std::string_view to,
                         std::string_view source);

}  // namespace corvane::cli

#endif
