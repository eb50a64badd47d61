// Escapes.cpp - option values with C-style escapes.
#include "Escapes.h"

#include "Failure.h"

#include <cstdio>

namespace corvane::cli {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void fail(std::string_view what, std::size_t character, const std::string& problem) {
  throw Failure(kExitUsage, std::string(what) + ", character " + std::to_string(character) + ": " + problem);
}

// Characters, not bytes, are counted for positions (bytes in Bytes mode).
std::size_t countCharacters(std::string_view bytes, TextMode mode) {
  if (mode == TextMode::Bytes) return bytes.size();
  std::size_t n = 0;
  for (char c : bytes)
    if ((static_cast<unsigned char>(c) & 0xC0u) != 0x80u) ++n;
  return n;
}

}  // namespace

std::u32string unescape(std::string_view value, TextMode mode, std::string_view what) {
  std::u32string out;
  std::size_t literalStart = 0;
  auto flushLiteral = [&](std::size_t end) {
    const std::string_view literal = value.substr(literalStart, end - literalStart);
    if (auto problem = decodeText(literal, mode, out))
      fail(what, countCharacters(value.substr(0, literalStart + problem->byteOffset), mode) + 1,
           problem->what);
  };
  std::size_t i = 0;
  while (i < value.size()) {
    if (value[i] != '\\') {
      ++i;
      continue;
    }
    flushLiteral(i);
    const std::size_t at = countCharacters(value.substr(0, i), mode) + 1;
    if (i + 1 >= value.size()) fail(what, at, "a lone backslash at the end (write \\\\ for one backslash)");
    const char kind = value[i + 1];
    std::size_t next = i + 2;
    char32_t c = 0;
    switch (kind) {
      case 'n':
        c = U'\n';
        break;
      case 'r':
        c = U'\r';
        break;
      case 't':
        c = U'\t';
        break;
      case '\\':
        c = U'\\';
        break;
      case '"':
        c = U'"';
        break;
      case '\'':
        c = U'\'';
        break;
      case 'x': {
        const int high = i + 2 < value.size() ? hexValue(value[i + 2]) : -1;
        const int low = i + 3 < value.size() ? hexValue(value[i + 3]) : -1;
        if (high < 0 || low < 0) fail(what, at, "\\x needs two hex digits");
        c = static_cast<char32_t>(high * 16 + low);
        next = i + 4;
        break;
      }
      case 'u': {
        if (i + 2 >= value.size() || value[i + 2] != '{') fail(what, at, "\\u needs braces, as in \\u{20AC}");
        std::size_t j = i + 3;
        std::uint32_t number = 0;
        std::size_t digits = 0;
        while (j < value.size() && hexValue(value[j]) >= 0 && digits < 7) {
          number = number * 16 + static_cast<std::uint32_t>(hexValue(value[j]));
          ++digits;
          ++j;
        }
        if (j >= value.size() || value[j] != '}' || digits == 0 || digits > 6)
          fail(what, at, "\\u{...} needs one to six hex digits and a closing brace");
        if (number > 0x10FFFF || (number >= 0xD800 && number <= 0xDFFF))
          fail(what, at, "\\u{" + std::string(value.substr(i + 3, digits)) + "} is not a code point");
        c = static_cast<char32_t>(number);
        next = j + 1;
        break;
      }
      default: {
        // Show the whole character after the backslash, not just its first byte.
        std::size_t end = i + 2;
        while (mode != TextMode::Bytes && end < value.size() &&
               (static_cast<unsigned char>(value[end]) & 0xC0u) == 0x80u)
          ++end;
        fail(what, at, "unknown escape \"\\" + printableBytes(value.substr(i + 1, end - i - 1)) + "\"");
      }
    }
    if (auto problem = characterProblem(c, mode)) fail(what, at, *problem);
    out.push_back(c);
    i = next;
    literalStart = next;
  }
  flushLiteral(value.size());
  return out;
}

std::string showEscaped(std::u32string_view text, TextMode mode) {
  std::string out;
  char buffer[16];
  for (char32_t c : text) {
    switch (c) {
      case U'\n':
        out += "\\n";
        continue;
      case U'\r':
        out += "\\r";
        continue;
      case U'\t':
        out += "\\t";
        continue;
      case U'\\':
        out += "\\\\";
        continue;
      default:
        break;
    }
    const bool control = c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
    if (control || (mode == TextMode::Bytes && c >= 0x80)) {
      std::snprintf(buffer, sizeof buffer, "\\x%02X", static_cast<unsigned>(c));
      out += buffer;
    } else {
      encodeText(std::u32string_view(&c, 1), mode == TextMode::Bytes ? TextMode::Unicode : mode, out);
    }
  }
  return out;
}

std::string printableBytes(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (unsigned char b : bytes) {
    if (b == '\\') {
      shown += "\\\\";
    } else if (b >= 0x20 && b != 0x7F) {
      shown += static_cast<char>(b);
    } else {
      shown += "\\x";
      shown += kHex[b >> 4];
      shown += kHex[b & 15];
    }
  }
  return shown;
}

}  // namespace corvane::cli
