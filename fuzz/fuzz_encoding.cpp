// fuzz_encoding.cpp - the program's text conversions on any bytes:
//   - decodeText gives what the rules give taken one character at a time
//     (the same characters, or the same problem at the same offset), with
//     or without spare room after the text; it
//     either takes every byte, and the characters encode back to the same
//     bytes, or stops at a problem before which every byte decodes;
//   - any characters (three bytes each, up to U+11FFFF) encode as they do
//     one at a time, with U+FFFD for a surrogate or what is past U+10FFFF;
//   - a file's encoding converted to UTF-8 in chunks of any size gives what
//     one conversion of the whole gives, or fails at the same place; what
//     it gives, converted to the encoding and back, is the same UTF-8;
//   - UTF-8 converted to the encoding in chunks is the whole conversion
//     (a problem's message may show fewer of the bytes that follow it).
// Never a crash, a hang or an exception.
#include <utf8.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "Encoding.h"
#include "Escapes.h"
#include "FuzzTools.h"
#include "Transcoder.h"

namespace {

using namespace corvane::cli;

constexpr const char* kEncodings[] = {"UTF-16",     "UTF-16LE",    "UTF-16BE", "UTF-32",     "WINDOWS-1252",
                                      "ISO-8859-1", "ISO-8859-15", "GB18030",  "SHIFT_JIS",  "EUC-JP",
                                      "CP437",      "KOI8-R",      "BIG5",     "ISO-2022-JP"};
constexpr std::size_t kEncodingCount = sizeof kEncodings / sizeof kEncodings[0];

struct Converted {
  std::string text;
  std::optional<TranscodeProblem> problem;
};

Converted convert(std::string_view bytes, const char* from, const char* to, std::size_t chunk) {
  Transcoder converter(from, to);
  Converted out;
  if (chunk == 0) chunk = bytes.size() + 1;
  std::size_t at = 0;
  do {
    const std::string_view piece = bytes.substr(at, chunk);
    at += piece.size();
    out.problem = converter.convert(piece, out.text, at >= bytes.size());
  } while (!out.problem && at < bytes.size());
  return out;
}

std::string describe(const Converted& c) {
  if (c.problem)
    return "problem at byte " + std::to_string(c.problem->byteOffset) + ", line " +
           std::to_string(c.problem->line) + ": " + c.problem->what;
  return std::to_string(c.text.size()) + " bytes";
}

void sameConversion(const Converted& whole, const Converted& chunked, const char* what) {
  const bool same = whole.problem.has_value() == chunked.problem.has_value() &&
                    (whole.problem ? whole.problem->byteOffset == chunked.problem->byteOffset &&
                                         whole.problem->line == chunked.problem->line &&
                                         whole.problem->what.substr(0, whole.problem->what.find(" (")) ==
                                             chunked.problem->what.substr(0, chunked.problem->what.find(" ("))
                                   : whole.text == chunked.text);
  if (!same) cvfuzz::toolCheckFailed(what, "whole: " + describe(whole) + "; in chunks: " + describe(chunked));
}

// The rules a character at a time, as plainly as they can be put.
std::optional<DecodeProblem> decodePlainly(std::string_view bytes, TextMode mode, std::u32string& out) {
  for (const char *p = bytes.data(), *end = p + bytes.size(); p != end;) {
    const auto at = static_cast<std::size_t>(p - bytes.data());
    const auto byte = static_cast<unsigned char>(*p);
    std::uint32_t c = byte;
    if (mode == TextMode::Bytes) {
      ++p;
    } else if (utf8::internal::validate_next(p, end, c) != utf8::internal::UTF8_OK) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(byte));
      return DecodeProblem{at, std::string("invalid UTF-8 (byte ") + hex + ")"};
    }
    if (auto what = characterProblem(c, mode)) return DecodeProblem{at, *what};
    out.push_back(c);
  }
  return std::nullopt;
}

void checkDecode(std::string_view bytes, TextMode mode) {
  std::u32string text, plain;
  const auto problem = decodeText(bytes, mode, text), expected = decodePlainly(bytes, mode, plain);
  if (text != plain || problem.has_value() != expected.has_value() ||
      (problem && (problem->byteOffset != expected->byteOffset || problem->what != expected->what)))
    cvfuzz::toolCheckFailed(
        "decodeText follows the rules a character at a time",
        expected ? "expected at byte " + std::to_string(expected->byteOffset) + ": " + expected->what
                 : "expected no problem");
  // With spare room after the text, which the last bytes may be written
  // through, the same.
  std::u32string room(bytes.size() + kDecodeSpare, U'\0');
  std::size_t written = 0;
  const auto spared = decodeText(bytes, mode, room.data(), written, room.size());
  if (room.substr(0, written) != text || spared.has_value() != problem.has_value() ||
      (spared && spared->byteOffset != problem->byteOffset))
    cvfuzz::toolCheckFailed("decodeText with spare room decodes the same", cvfuzz::modeName(mode));
  if (problem) {
    if (problem->byteOffset >= bytes.size())
      cvfuzz::toolCheckFailed("a problem is inside the text", problem->what);
    std::u32string before;
    if (decodeText(bytes.substr(0, problem->byteOffset), mode, before) || before != text)
      cvfuzz::toolCheckFailed("the bytes before a problem decode", problem->what);
    return;
  }
  for (char32_t c : text)
    if (characterProblem(c, mode))
      cvfuzz::toolCheckFailed("decoded characters fit the mode", cvfuzz::modeName(mode));
  if (encodeText(text, mode) != bytes)
    cvfuzz::toolCheckFailed("decoded text encodes to the same bytes", cvfuzz::modeName(mode));
}

void checkEncode(std::string_view bytes) {
  std::u32string text;
  std::string plain;
  for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
    const auto byte = [&](std::size_t k) {
      return static_cast<char32_t>(static_cast<unsigned char>(bytes[i + k]));
    };
    const char32_t c = byte(0) | byte(1) << 8 | (byte(2) % 0x12) << 16;
    text.push_back(c);
    utf8::unchecked::append(
        c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFDu : static_cast<std::uint32_t>(c),
        std::back_inserter(plain));
  }
  for (auto mode : {TextMode::Unicode, TextMode::Latin1})
    if (encodeText(text, mode) != plain)
      cvfuzz::toolCheckFailed("encodeText gives what a character at a time gives", cvfuzz::modeName(mode));
}

}  // namespace

// UTF-7 is left out: iconv's decoder of it may take more or fewer bytes
// before a bad one depending on where a chunk ends, so the offset in its
// messages depends on the read blocks.
// Input: byte 0 picks the encoding, byte 1 the chunk size (0: the whole);
// then the bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char* encoding = kEncodings[data[0] % kEncodingCount];
  const std::size_t chunk = data[1] % 17;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);

  for (auto mode : {TextMode::Unicode, TextMode::Latin1, TextMode::Bytes}) checkDecode(bytes, mode);
  checkEncode(bytes);

  // In: the file's encoding to UTF-8.
  const Converted in = convert(bytes, encoding, "UTF-8", 0);
  sameConversion(in, convert(bytes, encoding, "UTF-8", chunk), "read in chunks as whole");
  if (!in.problem) {
    std::u32string decoded;
    if (auto problem = decodeText(in.text, TextMode::Unicode, decoded);
        problem && problem->what.find("zero") == std::string::npos)
      cvfuzz::toolCheckFailed("a conversion to UTF-8 gives UTF-8", problem->what);
    const Converted out = convert(in.text, "UTF-8", encoding, 0);
    if (!out.problem) {
      const Converted back = convert(out.text, encoding, "UTF-8", chunk);
      if (back.problem || back.text != in.text)
        cvfuzz::toolCheckFailed("a text written in the encoding reads back the same", describe(back));
    }
  }
  // Out: UTF-8 to the file's encoding.
  sameConversion(convert(bytes, "UTF-8", encoding, 0), convert(bytes, "UTF-8", encoding, chunk),
                 "written in chunks as whole");
  return 0;
}
