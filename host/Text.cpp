// Text.cpp - host text conversions.
#include "Text.h"

#include <cstring>

namespace corvane::host {

std::u32string fromBytes(std::string_view bytes) {
  std::u32string out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(static_cast<char32_t>(static_cast<unsigned char>(c)));
  return out;
}

std::string toBytes(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) out.push_back(static_cast<char>(narrowUnit(c, CharWidth::Byte)));
  return out;
}

std::u32string fromUtf8(std::string_view utf8) {
  constexpr char32_t kReplacement = 0xFFFD;
  std::u32string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  const std::size_t n = utf8.size();
  while (i < n) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out.push_back(lead);
      ++i;
      continue;
    }
    std::size_t extra = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
      cp = lead & 0x1Fu;
      minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
      cp = lead & 0x0Fu;
      minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
      cp = lead & 0x07u;
      minimum = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= extra && i + j < n; ++j) {
      const auto next = static_cast<unsigned char>(utf8[i + j]);
      if ((next & 0xC0u) != 0x80u) break;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    if (j <= extra || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      i += j;  // skip the lead and the continuation bytes that belonged to it
      continue;
    }
    out.push_back(cp);
    i += j;
  }
  return out;
}

std::string toUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

void writeUnit(void* destination, CharWidth width, std::size_t index, char32_t unit) noexcept {
  auto* bytes = static_cast<unsigned char*>(destination);
  if (width == CharWidth::Byte) {
    bytes[index] = static_cast<unsigned char>(narrowUnit(unit, width));
  } else {
    const std::uint32_t value = unit;
    std::memcpy(bytes + index * 4, &value, 4);
  }
}

std::size_t writeUnits(void* destination, CharWidth width, const char32_t* text,
                       std::size_t count) noexcept {
  if (width == CharWidth::Unicode) {
    static_assert(sizeof(char32_t) == 4, "host characters are 32-bit units");
    if (count != 0) std::memcpy(destination, text, count * 4);
    return count * 4;
  }
  for (std::size_t i = 0; i < count; ++i) writeUnit(destination, width, i, text[i]);
  return count;
}

char32_t readUnit(const void* source, CharWidth width, std::size_t index) noexcept {
  const auto* bytes = static_cast<const unsigned char*>(source);
  if (width == CharWidth::Byte) return bytes[index];
  std::uint32_t value = 0;
  std::memcpy(&value, bytes + index * 4, 4);
  return value;
}

std::u32string readTerminated(const void* source, CharWidth width, std::size_t limit) {
  std::u32string out;
  if (source == nullptr) return out;
  for (std::size_t i = 0; i < limit; ++i) {
    const char32_t c = readUnit(source, width, i);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

std::u32string readUnits(const void* source, CharWidth width, std::size_t count) {
  std::u32string out(count, U'\0');
  if (count == 0) return out;
  if (width == CharWidth::Unicode) {
    std::memcpy(out.data(), source, count * 4);
  } else {
    for (std::size_t i = 0; i < count; ++i) out[i] = readUnit(source, width, i);
  }
  return out;
}

std::vector<std::u32string> split(std::u32string_view text, char32_t separator) {
  std::vector<std::u32string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    if (at == std::u32string_view::npos) {
      parts.emplace_back(text.substr(start));
      return parts;
    }
    parts.emplace_back(text.substr(start, at - start));
    start = at + 1;
  }
}

std::u32string join(const std::vector<std::u32string>& parts, char32_t separator) {
  std::u32string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) out.push_back(separator);
    out += parts[i];
  }
  return out;
}

}  // namespace corvane::host
