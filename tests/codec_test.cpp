// The program's codecs on their own: the iconv converter fed in pieces, as
// a reader that streams a file feeds it, and cell escaping both ways on
// random troublesome text.
#include "CellEscaping.h"
#include "Commands.h"
#include "Transcoder.h"

#include <gtest/gtest.h>
#include <utf8.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace corvane::cli {
namespace {

std::string whole(const std::string& from, const std::string& to, const std::string& bytes) {
  Transcoder converter(from, to);
  std::string out;
  EXPECT_FALSE(converter.convert(bytes, out, true));
  return out;
}

// The text in two chunks cut at every byte, and in chunks of one byte, must
// convert as the whole text does.
TEST(Transcoder, InputCutAnywhereConvertsAsAWhole) {
  const std::string text = "id,word\r\n1,Hydrog\xC3\xA8ne \xE2\x82\xAC \xF0\x9F\x98\x80\n";
  for (const char* encoding : {"UTF-16", "UTF-16LE", "UTF-32", "GB18030", "UTF-8"}) {
    SCOPED_TRACE(encoding);
    const std::string encoded = whole("UTF-8", encoding, text);
    ASSERT_EQ(whole(encoding, "UTF-8", encoded), text);
    for (std::size_t cut = 0; cut <= encoded.size(); ++cut) {
      Transcoder converter(encoding, "UTF-8");
      std::string out;
      ASSERT_FALSE(converter.convert(std::string_view(encoded).substr(0, cut), out, false));
      ASSERT_FALSE(converter.convert(std::string_view(encoded).substr(cut), out, true));
      ASSERT_EQ(out, text) << "cut at " << cut;
    }
    Transcoder bytewise(encoding, "UTF-8");
    std::string out;
    for (char c : encoded) ASSERT_FALSE(bytewise.convert(std::string_view(&c, 1), out, false));
    ASSERT_FALSE(bytewise.convert({}, out, true));
    EXPECT_EQ(out, text);
  }
}

struct BadInput {
  const char* encoding;
  std::string bytes;
  std::size_t offset, line;
  const char* what;
};

// Where the input goes wrong is counted over all chunks, whatever their size.
TEST(Transcoder, NamesTheOffsetOfInvalidInputAcrossChunks) {
  const BadInput cases[] = {
      {"WINDOWS-1252", "ab\ncd\n\xE9\x81x", 7, 3, "invalid WINDOWS-1252 (byte 0x81)"},
      {"UTF-16LE", std::string("a\0\n\0b", 5), 4, 2, "incomplete UTF-16LE (byte 0x62)"},
      {"UTF-16LE", std::string("a\0\n\0\x00\xDC", 6), 4, 2, "invalid UTF-16LE (byte 0x00)"},
      {"UTF-8", "ok\n\xE2\x82", 3, 2, "incomplete UTF-8 (bytes 0xE2 0x82)"},
  };
  for (const auto& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, c.bytes.size()}) {
      SCOPED_TRACE(std::string(c.encoding) + ", chunks of " + std::to_string(chunk));
      Transcoder converter(c.encoding, "UTF-16");
      std::string out;
      std::optional<TranscodeProblem> problem;
      for (std::size_t at = 0; at < c.bytes.size() && !problem; at += chunk)
        problem =
            converter.convert(std::string_view(c.bytes).substr(at, chunk), out, at + chunk >= c.bytes.size());
      ASSERT_TRUE(problem);
      EXPECT_EQ(problem->byteOffset, c.offset);
      EXPECT_EQ(problem->line, c.line);
      EXPECT_EQ(problem->what, c.what);
    }
  }
}

std::u32string randomText(std::mt19937& random, std::u32string_view alphabet, std::size_t maxLength) {
  std::u32string text(random() % (maxLength + 1), U' ');
  for (auto& c : text) c = alphabet[random() % alphabet.size()];
  return text;
}

constexpr std::u32string_view kTroublesome =
    U"<>&\"'\\|;#x0u{}[],: \t\n\r\x01\x1F\x7F\u00E9\u00FF\u20AC\U0001F600\U0010FFFD";

// Escaped, the cell holds none of the format's separators; unescaped, it is
// itself again.
TEST(CellEscaping, RandomCellsComeBackAndHoldNoSeparator) {
  Format format;
  format.rowPrefix = U"[";
  format.rowSuffix = U"]";
  format.rowDelim = U"; ";
  format.colPrefix = U"VARIANT:<,{";
  format.colSuffix = U"VARIANT:>,}";
  format.colDelim = U"|";
  const auto separators = formatSeparators(format, 2);
  ASSERT_EQ(separators, (std::vector<std::u32string>{U">|{", U"}]; "}));
  // Single characters, and pieces that look like separators and escapes.
  const std::u32string_view pieces[] = {U">|{", U"}]; ", U"&#", U"&amp;", U";", U"\\u", U"\"\"", U"\\\\"};
  std::mt19937 random(7);
  for (CellEscape kind : {CellEscape::Html, CellEscape::Xml, CellEscape::Json, CellEscape::Csv}) {
    const CellEscaper escaper(kind, separators);
    for (int round = 0; round < 3000; ++round) {
      std::u32string cell;
      for (std::size_t n = random() % 6; n != 0; --n) {
        if (random() % 2 == 0)
          cell += pieces[random() % std::size(pieces)];
        else
          cell += randomText(random, kTroublesome, 3);
      }
      if (kind == CellEscape::Xml) {
        for (auto& c : cell)
          if (c == 0x01 || c == 0x1F) c = U'?';
      }
      std::u32string escaped, back;
      ASSERT_FALSE(escaper.escape(cell, escaped));
      if (kind != CellEscape::Csv) {
        for (const auto& separator : separators) ASSERT_EQ(escaped.find(separator), std::u32string::npos);
      }
      ASSERT_FALSE(escaper.unescape(escaped, TextMode::Unicode, back));
      ASSERT_EQ(back, cell) << encodeText(escaped, TextMode::Unicode);
    }
  }
}

// Texts of ASCII runs longer and shorter than a machine word, with
// characters of two, three and four bytes between them, come back from
// UTF-8 as they were; a zero, a sequence that is not UTF-8 or not its
// shortest form, or a character Latin-1 lacks, put at any offset, stops the
// decoding there, with every character before it written.
TEST(TextCodec, RunsOfAsciiAndTheFirstProblemAtEveryOffset) {
  std::mt19937 random(11);
  const std::u32string_view alphabet = U"abcdefgh ,|\n\u00E9\u00FF\u20AC\U0001F600";
  for (int round = 0; round < 2000; ++round) {
    std::u32string text;
    for (std::size_t n = random() % 5; n != 0; --n) {
      text += std::u32string(random() % 20, U'a' + static_cast<char32_t>(random() % 26));
      text += randomText(random, alphabet, 3);
    }
    std::u32string octets = text;  // any byte but zero, for Bytes
    for (auto& c : octets) c = 1 + c % 255;
    for (TextMode mode : {TextMode::Unicode, TextMode::Bytes}) {
      const std::u32string& original = mode == TextMode::Bytes ? octets : text;
      std::u32string back;
      ASSERT_FALSE(decodeText(encodeText(original, mode), mode, back));
      ASSERT_EQ(back, original);
    }
    const std::string bytes = encodeText(text, TextMode::Unicode);
    // Where a character starts at or before a random offset.
    std::size_t at = random() % (bytes.size() + 1);
    while (at != 0 && at < bytes.size() && (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80) --at;
    std::u32string before;
    ASSERT_FALSE(decodeText(bytes.substr(0, at), TextMode::Unicode, before));
    const bool latin1 = std::all_of(before.begin(), before.end(), [](char32_t c) { return c <= 0xFF; });
    struct Problem {
      TextMode mode;
      std::string bytes;
      const char* what;  // how the message starts
    };
    const Problem problems[] = {
        {TextMode::Unicode, std::string(1, '\0'), "a zero character"},
        {TextMode::Unicode, "\xFF", "invalid UTF-8 (byte 0xFF)"},
        {TextMode::Unicode, "\x80", "invalid UTF-8 (byte 0x80)"},              // following a character
        {TextMode::Unicode, "\xC1\xBF", "invalid UTF-8 (byte 0xC1)"},          // U+007F written long
        {TextMode::Unicode, "\xED\xA0\x80", "invalid UTF-8 (byte 0xED)"},      // a surrogate
        {TextMode::Unicode, "\xE0\x80\x80", "invalid UTF-8 (byte 0xE0)"},      // a zero written long
        {TextMode::Unicode, "\xE0\x9F\xBF", "invalid UTF-8 (byte 0xE0)"},      // U+07FF written long
        {TextMode::Unicode, "\xF4\x90\x80\x80", "invalid UTF-8 (byte 0xF4)"},  // past U+10FFFF
        {TextMode::Unicode, "\xC3", "invalid UTF-8 (byte 0xC3)"},              // a lead byte alone
        {TextMode::Unicode, "\xE2\x82", "invalid UTF-8 (byte 0xE2)"},          // cut short
        {TextMode::Latin1, "\xC4\x80", "U+0100 \"\xC4\x80\" is outside Latin-1"},
        {TextMode::Latin1, "\xE2\x82\xAC", "U+20AC \"\xE2\x82\xAC\" is outside Latin-1"},
        {TextMode::Latin1, "\xF0\x9F\x98\x80", "U+1F600 \"\xF0\x9F\x98\x80\" is outside Latin-1"},
    };
    for (const auto& [mode, bad, what] : problems) {
      if (mode == TextMode::Latin1 && !latin1) continue;
      std::u32string got;
      const auto problem = decodeText(bytes.substr(0, at) + bad + bytes.substr(at), mode, got);
      ASSERT_TRUE(problem);
      EXPECT_EQ(problem->byteOffset, at);
      EXPECT_EQ(problem->what.substr(0, std::string_view(what).size()), what);
      EXPECT_EQ(got, before);
    }
  }
}

// Texts of two- and three-byte characters, alone or among ASCII, of every
// length to past two blocks of thirty-two bytes, so that characters cross
// every block and half-block edge and every way of ending is taken: they
// come back from UTF-8 as they were, with spare room after them or none.  A
// character that the blocks leave to the careful path, put before any
// character, is decoded there or is the problem there, with every character
// before it decoded; and a character of four bytes or a surrogate (written
// as U+FFFD) put anywhere encodes as it would alone.
TEST(TextCodec, DenseTextAcrossEveryBlockEdge) {
  const std::u32string_view patterns[] = {U"\u00E9", U"\u20AC", U"a\u00E9\u20AC", U"\u00E9\u00E9\u20AC",
                                          U"a\u00E9"};
  struct Inserted {
    TextMode mode;
    std::string bytes;
    const char* what;  // how the problem's message starts, or null for a character
  };
  const Inserted inserted[] = {
      {TextMode::Unicode, "\xF0\x9F\x98\x80", nullptr},
      {TextMode::Unicode, std::string(1, '\0'), "a zero character"},
      {TextMode::Unicode, "\xED\xA0\x80", "invalid UTF-8 (byte 0xED)"},
      {TextMode::Unicode, "\xE2\x82", "invalid UTF-8 (byte 0xE2)"},
      {TextMode::Latin1, "\xC4\x80", "U+0100"},
  };
  const auto plainly = [](std::u32string_view text) {
    std::string bytes;
    for (char32_t c : text)
      utf8::append(c >= 0xD800 && c <= 0xDFFF ? 0xFFFDu : static_cast<std::uint32_t>(c),
                   std::back_inserter(bytes));
    return bytes;
  };
  for (const auto pattern : patterns) {
    for (std::size_t length = 1; length <= 70; ++length) {
      std::u32string text;
      while (text.size() < length) text += pattern;
      text.resize(length);
      SCOPED_TRACE(plainly(text));
      const std::string bytes = plainly(text);
      ASSERT_EQ(encodeText(text, TextMode::Unicode), bytes);
      const bool latin1 = std::all_of(text.begin(), text.end(), [](char32_t c) { return c <= 0xFF; });
      std::vector<char32_t> room(bytes.size() + kDecodeSpare + 4);
      for (TextMode mode : {TextMode::Unicode, TextMode::Latin1}) {
        if (mode == TextMode::Latin1 && !latin1) continue;
        std::u32string back;
        ASSERT_FALSE(decodeText(bytes, mode, back));
        EXPECT_EQ(back, text);
        std::size_t written = 0;
        ASSERT_FALSE(decodeText(bytes, mode, room.data(), written, bytes.size() + kDecodeSpare));
        EXPECT_EQ(std::u32string(room.data(), written), text);
      }
      for (std::size_t k = 0; k <= length; ++k) {
        const std::size_t at = plainly(text.substr(0, k)).size();
        for (const auto& [mode, extra, what] : inserted) {
          if (mode == TextMode::Latin1 && !latin1) continue;
          const std::string spoilt = bytes.substr(0, at) + extra + bytes.substr(at);
          std::u32string got;
          std::size_t written = 0;
          room.resize(spoilt.size() + kDecodeSpare);
          const auto problem = decodeText(spoilt, mode, got);
          const auto spared = decodeText(spoilt, mode, room.data(), written, room.size());
          EXPECT_EQ(std::u32string(room.data(), written), got);
          if (what == nullptr) {
            EXPECT_FALSE(problem);
            EXPECT_EQ(got, text.substr(0, k) + U"\U0001F600" + text.substr(k));
            continue;
          }
          ASSERT_TRUE(problem && spared) << k;
          EXPECT_EQ(problem->byteOffset, at);
          EXPECT_EQ(spared->byteOffset, at);
          EXPECT_EQ(problem->what.substr(0, std::string_view(what).size()), what);
          EXPECT_EQ(got, text.substr(0, k));
        }
        if (k == length) continue;
        for (char32_t other : {U'\U0001F600', char32_t{0xD800}}) {
          std::u32string changed = text;
          changed[k] = other;
          EXPECT_EQ(encodeText(changed, TextMode::Unicode), plainly(changed)) << k;
        }
      }
    }
  }
}

// The row separators the stream cuts at are the ones a plain search finds,
// one after the other without overlap, for separators whose rarest
// character stands first, inside or last.
TEST(FormattedSplit, RowSeparatorsAreThoseAPlainSearchFinds) {
  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    Format format;
    format.rowPrefix = randomText(random, U"|[ a", 2);
    format.rowSuffix = randomText(random, U"|] a", 2);
    format.rowDelim = U"\n" + randomText(random, U"\n; ", 1);
    if (random() % 2 == 0) std::swap(format.rowDelim[0], format.rowDelim.back());
    format.colDelim = U"|";
    const FormatShape shape(format, 1 + random() % 3);
    std::u32string text = shape.rowStart;
    for (std::size_t n = random() % 40; n != 0; --n)
      text += random() % 4 == 0 ? shape.rowSep : randomText(random, U"ab |[];\n", 12);
    std::size_t expected = 0;
    for (std::size_t at = text.find(shape.rowSep, shape.rowStart.size()); at != std::u32string::npos;
         at = text.find(shape.rowSep, at + shape.rowSep.size()))
      ++expected;
    ASSERT_EQ(countRowSeparators(shape, text), expected) << encodeText(text, TextMode::Unicode);
  }
}

}  // namespace
}  // namespace corvane::cli
