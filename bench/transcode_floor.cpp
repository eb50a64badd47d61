// corvane_transcode_floor - the least work any run of the Unicode build does
// on a UTF-8 file: read it, widen it to the host's 32-bit characters with the
// program's own decoder, narrow it back with its encoder, write it.  No CSV,
// no host, no plug-in.  bench/peers.py times it next to corvane and the
// peers, so that a goal relative to a peer can be held against what no
// Unicode run can go below on that machine at that moment.
//
//   corvane_transcode_floor unicode|copy IN OUT
//
// "copy" only reads and writes, the least an 8-bit run with --raw-bytes does.
#include "Encoding.h"
#include "Failure.h"
#include "Files.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace corvane::cli;

constexpr std::size_t kBlock = 1 << 18;  // the program's batch size

// Bytes at the end of `block` that begin a UTF-8 sequence the block cuts:
// they go to the front of the next block.
std::size_t cutSequence(std::string_view block) {
  std::size_t back = 0;
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(block[block.size() - 1 - k]); };
  while (back < block.size() && back < 4 && (at(back) & 0xC0) == 0x80) ++back;
  return back < block.size() && at(back) >= 0xC0 ? back + 1 : 0;
}

// The files go through the program's own InputFile and OutputFile, so the
// floor pays for reading and writing what corvane pays.
void run(bool widen, const char* inPath, const char* outPath) {
  InputFile in(inPath);
  OutputFile out(outPath);
  std::string bytes;
  std::vector<char32_t> wide(kBlock + 4 + kDecodeSpare);
  std::vector<char> narrow(encodedMost(wide.size(), TextMode::Unicode) + kEncodeRoomSpare);
  for (;;) {
    const bool ended = in.read(bytes, kBlock) == 0;
    if (!widen) {
      out.write(bytes);
      bytes.clear();
    } else {
      const std::string_view text =
          std::string_view(bytes).substr(0, bytes.size() - (ended ? 0 : cutSequence(bytes)));
      std::size_t characters = 0;
      if (const auto problem = decodeText(text, TextMode::Unicode, wide.data(), characters, wide.size()))
        throw Failure(kExitInput, std::string(inPath) + ": " + problem->what);
      out.write({narrow.data(), encodeTextAt({wide.data(), characters}, TextMode::Unicode, narrow.data())});
      bytes.erase(0, text.size());
    }
    if (ended) break;
  }
  out.commit();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "unicode") != 0 && std::strcmp(argv[1], "copy") != 0)) {
    std::fprintf(stderr, "usage: corvane_transcode_floor unicode|copy IN OUT\n");
    return 2;
  }
  try {
    run(std::strcmp(argv[1], "unicode") == 0, argv[2], argv[3]);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "corvane_transcode_floor: %s\n", failure.what());
    return 1;
  }
  return 0;
}
