// Encoding.cpp - UTF-8, Latin-1 and raw bytes for the plug-in's characters.
#include "Encoding.h"

#include <utf8.h>

#include <algorithm>
#include <cstdio>

namespace corvane::cli {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0u) == 0x80u; }

std::string hexByte(unsigned char byte) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "0x%02X", static_cast<unsigned>(byte));
  return buffer;
}

}  // namespace

std::string describeCharacter(char32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "U+%04X", static_cast<unsigned>(c));
  std::string text = buffer;
  const bool printable = c >= 0x20 && c != 0x7F && !(c >= 0x80 && c < 0xA0) && c <= 0x10FFFF &&
                         !(c >= 0xD800 && c <= 0xDFFF);
  if (printable) {
    text += " \"";
    utf8::unchecked::append(static_cast<std::uint32_t>(c), std::back_inserter(text));
    text += "\"";
  }
  return text;
}

std::optional<std::string> characterProblem(char32_t c, TextMode mode) {
  if (c == 0) return std::string("a zero character, which ends every string the plug-in handles");
  if (mode != TextMode::Unicode && c > 0xFF) {
    if (mode == TextMode::Bytes) return describeCharacter(c) + " does not fit in one byte";
    return describeCharacter(c) +
           " is outside Latin-1, the only characters the 8-bit build holds (use the Unicode build, "
           "or --raw-bytes to pass bytes unchanged)";
  }
  return std::nullopt;
}

std::optional<DecodeProblem> decodeText(std::string_view bytes, TextMode mode, std::u32string& out) {
  out.reserve(out.size() + bytes.size());
  if (mode == TextMode::Bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto byte = static_cast<unsigned char>(bytes[i]);
      if (byte == 0) return DecodeProblem{i, *characterProblem(0, mode)};
      out.push_back(byte);
    }
    return std::nullopt;
  }
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* invalid = utf8::find_invalid(begin, end);
  const char* p = begin;
  while (p != invalid) {
    const char* at = p;
    const auto c = static_cast<char32_t>(utf8::unchecked::next(p));
    if (c == 0 || (mode == TextMode::Latin1 && c > 0xFF))
      return DecodeProblem{static_cast<std::size_t>(at - begin), *characterProblem(c, mode)};
    out.push_back(c);
  }
  if (invalid != end)
    return DecodeProblem{static_cast<std::size_t>(invalid - begin),
                         "invalid UTF-8 (byte " + hexByte(static_cast<unsigned char>(*invalid)) + ")"};
  return std::nullopt;
}

void encodeText(std::u32string_view text, TextMode mode, std::string& out) {
  if (mode == TextMode::Bytes) {
    for (char32_t c : text) out.push_back(static_cast<char>(static_cast<unsigned char>(c)));
    return;
  }
  for (char32_t c : text) {
    // The plug-in only moves the characters it was given, so these are code
    // points; anything else would have been refused on the way in.
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    utf8::unchecked::append(static_cast<std::uint32_t>(c), std::back_inserter(out));
  }
}

std::string encodeText(std::u32string_view text, TextMode mode) {
  std::string out;
  out.reserve(text.size());
  encodeText(text, mode, out);
  return out;
}

std::string describePosition(std::string_view bytes, std::size_t byteOffset, TextMode mode,
                             std::size_t firstLine) {
  byteOffset = std::min(byteOffset, bytes.size());
  std::size_t line = firstLine;
  std::size_t lineStart = 0;
  for (std::size_t i = 0; i < byteOffset; ++i) {
    if (bytes[i] == '\n') {
      ++line;
      lineStart = i + 1;
    }
  }
  std::size_t character = 1;
  for (std::size_t i = lineStart; i < byteOffset; ++i)
    if (mode == TextMode::Bytes || !isContinuation(static_cast<unsigned char>(bytes[i]))) ++character;
  return "line " + std::to_string(line) + ", character " + std::to_string(character);
}

}  // namespace corvane::cli
