// fuzz_cell_escaping.cpp - cell escaping on any cell and any separators:
// every kind either refuses the cell with a problem at one of its
// characters, or writes a text that holds none of the format's separators
// and unescapes to the cell itself; unescaping any text gives characters
// the mode holds, or a problem inside the text.  Never a crash, a hang or
// an exception.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CellEscaping.h"
#include "Escapes.h"
#include "FuzzTools.h"

namespace {

using namespace corvane::cli;

// Characters from bytes: UTF-8 where it decodes, else one byte each; never
// a zero character, which no cell holds.
std::u32string characters(std::string_view bytes, TextMode mode) {
  std::u32string out;
  if (mode == TextMode::Unicode) {
    // A window at a time: decoding the whole rest after every bad byte
    // would cost the square of the input's length.
    constexpr std::size_t kWindow = 256;
    std::size_t at = 0;
    while (at < bytes.size()) {
      const std::string_view window = bytes.substr(at, kWindow);
      const bool last = at + window.size() == bytes.size();
      auto problem = decodeText(window, mode, out);
      if (!problem) {
        at += window.size();
      } else if (!last && problem->byteOffset + 4 > window.size()) {
        at += problem->byteOffset;  // the window may have cut a character: decode it again whole
      } else {
        at += problem->byteOffset;
        out.push_back(0x80 + static_cast<unsigned char>(bytes[at]) % 0x7F);
        ++at;
      }
    }
  } else {
    for (char c : bytes) out.push_back(static_cast<unsigned char>(c));
  }
  for (char32_t& c : out)
    if (c == 0) c = U'0';
  return out;
}

std::string shown(std::u32string_view text) { return showEscaped(text, TextMode::Unicode); }

}  // namespace

// Input: one byte of options (bits 0-2 the kind, bits 3-4 the mode), then
// up to three separators and the cell, separated by 0x01 bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto kind = static_cast<CellEscape>(data[0] % 5);
  const auto mode = static_cast<TextMode>(((data[0] >> 3) & 3) % 3);
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::u32string> separators;
  for (std::size_t cut; separators.size() < 3 && (cut = rest.find('\x01')) != std::string_view::npos;) {
    separators.push_back(characters(rest.substr(0, cut), mode));
    rest.remove_prefix(cut + 1);
  }
  const std::u32string cell = characters(rest, mode);
  const CellEscaper escaper(kind, separators);

  std::u32string escaped = U"<";  // escaping appends
  if (auto problem = escaper.escape(cell, escaped)) {
    if (problem->character < 1 || problem->character > cell.size())
      cvfuzz::toolCheckFailed("a problem is at a character of the cell", problem->what);
  } else {
    escaped.erase(0, 1);
    if (kind != CellEscape::None && kind != CellEscape::Csv)
      for (const auto& separator : separators)
        if (!separator.empty() && escaped.find(separator) != std::u32string::npos)
          cvfuzz::toolCheckFailed("an escaped cell holds no separator",
                                  shown(separator) + " in " + shown(escaped) + " of " + shown(cell));
    std::u32string back;
    if (auto refused = escaper.unescape(escaped, mode, back))
      cvfuzz::toolCheckFailed("an escaped cell unescapes", shown(escaped) + ": " + refused->what);
    if (back != cell)
      cvfuzz::toolCheckFailed("an escaped cell unescapes to itself",
                              shown(cell) + " -> " + shown(escaped) + " -> " + shown(back));
  }

  // Any text unescaped: characters the mode holds, or a problem inside it.
  std::u32string plain;
  if (auto problem = escaper.unescape(cell, mode, plain)) {
    if (problem->character < 1 || problem->character > cell.size())
      cvfuzz::toolCheckFailed("a problem is at a character of the text", problem->what);
  } else {
    for (char32_t c : plain)
      if (characterProblem(c, mode))
        cvfuzz::toolCheckFailed("unescaping gives characters the mode holds", shown(plain));
  }
  return 0;
}
