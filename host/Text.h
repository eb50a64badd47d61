// Text.h - host text for the test host.
//
// The host keeps every text as std::u32string, one element per host
// character.  The plug-in sees host characters of one width: 32-bit units in
// the Unicode build, bytes in the byte build.  These helpers move text between
// that memory form, the host's own form and UTF-8 for people.
#ifndef CORVANE_HOST_TEXT_H
#define CORVANE_HOST_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::host {

// Width of one host character as the plug-in sees it.
enum class CharWidth : std::uint8_t { Byte = 1, Unicode = 4 };

constexpr std::size_t unitBytes(CharWidth width) noexcept {
  return static_cast<std::size_t>(width);
}

// The unit written into byte-wide memory for a character the byte build
// cannot hold (anything above 255).
constexpr char32_t kUnrepresentable = U'?';

// One host character as the given width stores it.
constexpr std::uint32_t narrowUnit(char32_t c, CharWidth width) noexcept {
  if (width == CharWidth::Byte && c > 0xFF) return kUnrepresentable;
  return static_cast<std::uint32_t>(c);
}

// Each byte one host character (how the byte build reads text).
std::u32string fromBytes(std::string_view bytes);
// Each character one byte; characters above 255 become '?'.
std::string toBytes(std::u32string_view text);

// UTF-8 to code points; malformed sequences become U+FFFD.
std::u32string fromUtf8(std::string_view utf8);
// Code points to UTF-8; units that are no code point (above 0x10FFFF or
// surrogates) become U+FFFD.
std::string toUtf8(std::u32string_view text);

// Convenience for literals in tests and tools: ASCII text as host text.
inline std::u32string ascii(std::string_view text) { return fromBytes(text); }

// Writes `count` characters of `text` into `destination` in the given width
// (no terminator).  Returns the number of bytes written.
std::size_t writeUnits(void* destination, CharWidth width, const char32_t* text,
                       std::size_t count) noexcept;
// Writes one unit at unit index `index`.
void writeUnit(void* destination, CharWidth width, std::size_t index,
               char32_t unit) noexcept;
// Reads the unit at unit index `index`.
char32_t readUnit(const void* source, CharWidth width, std::size_t index) noexcept;
// Reads a zero-terminated string of host characters, at most `limit`
// characters (the terminator is not needed when the limit is reached).
std::u32string readTerminated(const void* source, CharWidth width,
                              std::size_t limit = SIZE_MAX);
// Reads `count` host characters.
std::u32string readUnits(const void* source, CharWidth width, std::size_t count);

// Splits at every occurrence of `separator`; "a,,b" gives three parts and an
// empty text gives one empty part.
std::vector<std::u32string> split(std::u32string_view text, char32_t separator);
std::u32string join(const std::vector<std::u32string>& parts, char32_t separator);

}  // namespace corvane::host

#endif
