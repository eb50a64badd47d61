// Encoding.h - text between files and the plug-in.
//
// Outside, text is UTF-8.  The Unicode build gets code points; the 8-bit
// build gets Latin-1, one byte per character, so a character above U+00FF
// cannot reach it.  In Bytes mode every byte is one character, in and out,
// whatever the build (for files in another 8-bit code page).
#ifndef CORVANE_TOOLS_ENCODING_H
#define CORVANE_TOOLS_ENCODING_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

enum class TextMode { Unicode, Latin1, Bytes };

// The first thing in a text that the plug-in cannot be given.
struct DecodeProblem {
  std::size_t byteOffset = 0;  // where it starts in the undecoded bytes
  std::string what;            // "invalid UTF-8 (byte 0xE9)", ...
};

// Appends the characters of `bytes` to `out`.  Stops at the first invalid
// UTF-8 sequence, the first character the mode cannot hold, or a zero
// character (which ends every string the plug-in handles), and describes it.
std::optional<DecodeProblem> decodeText(std::string_view bytes, TextMode mode, std::u32string& out);
// The same into `to`, which has room for `room` characters, and at least
// for bytes.size() (the most there can be) whatever `room` says; `written`
// gets the number of characters written before the end or the problem.
// Any of the room may be written to.  With kDecodeSpare more than
// bytes.size(), the last bytes go sixteen at a time like the rest.
inline constexpr std::size_t kDecodeSpare = 16;
std::optional<DecodeProblem> decodeText(std::string_view bytes, TextMode mode, char32_t* to,
                                        std::size_t& written, std::size_t room = 0);

// Appends `text` to `out` as UTF-8 (Unicode, Latin1) or one byte per
// character (Bytes).
void encodeText(std::u32string_view text, TextMode mode, std::string& out);
std::string encodeText(std::u32string_view text, TextMode mode);
// The most bytes `characters` characters take encoded, and the room past
// them that encodeTextAt may write to.
inline std::size_t encodedMost(std::size_t characters, TextMode mode) {
  return (mode == TextMode::Bytes ? 1 : 4) * characters;
}
inline constexpr std::size_t kEncodeRoomSpare = 16;
// Writes `text` at `to`, which has room for encodedMost(text.size()) bytes
// and kEncodeRoomSpare more; gives the number of bytes written.
std::size_t encodeTextAt(std::u32string_view text, TextMode mode, char* to);

// The problem a character is for the mode, or nothing when it fits.
std::optional<std::string> characterProblem(char32_t c, TextMode mode);

// U+0141 "Ł"; control characters are shown by number only.
std::string describeCharacter(char32_t c);

// "line 3, character 7" for a byte offset inside a text of several lines
// (characters counted in UTF-8 unless the mode is Bytes).
// `firstLine` is the line `bytes` begin on, for a piece of a larger text.
std::string describePosition(std::string_view bytes, std::size_t byteOffset, TextMode mode,
                             std::size_t firstLine = 1);

}  // namespace corvane::cli

#endif
