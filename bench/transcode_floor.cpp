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

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using corvane::cli::TextMode;

constexpr std::size_t kBlock = 1 << 18;  // the program's batch size

int fail(const char* what, const char* path) {
  std::fprintf(stderr, "corvane_transcode_floor: %s %s: %s\n", what, path, std::strerror(errno));
  return 1;
}

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Bytes at the end of `block` that begin a UTF-8 sequence the block cuts:
// they go to the front of the next block.
std::size_t cutSequence(const char* block, std::size_t size) {
  std::size_t back = 0;
  while (back < size && back < 4 && (static_cast<unsigned char>(block[size - 1 - back]) & 0xC0) == 0x80) ++back;
  if (back < size && static_cast<unsigned char>(block[size - 1 - back]) >= 0xC0) return back + 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "unicode") != 0 && std::strcmp(argv[1], "copy") != 0)) {
    std::fprintf(stderr, "usage: corvane_transcode_floor unicode|copy IN OUT\n");
    return 2;
  }
  const bool widen = std::strcmp(argv[1], "unicode") == 0;
  const int in = ::open(argv[2], O_RDONLY);
  if (in < 0) return fail("cannot read", argv[2]);
  const int out = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) return fail("cannot write", argv[3]);

  std::vector<char> bytes(kBlock + 4);
  std::vector<char32_t> wide(kBlock + 4 + corvane::cli::kDecodeSpare);
  std::vector<char> narrow(corvane::cli::encodedMost(wide.size(), TextMode::Unicode) +
                           corvane::cli::kEncodeRoomSpare);
  std::size_t carried = 0;
  for (;;) {
    const ssize_t n = ::read(in, bytes.data() + carried, kBlock);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("cannot read", argv[2]);
    const std::size_t held = carried + static_cast<std::size_t>(n);
    if (!widen) {
      if (n == 0) break;
      if (!writeAll(out, bytes.data(), held)) return fail("cannot write", argv[3]);
      continue;
    }
    const std::size_t keep = n == 0 ? 0 : cutSequence(bytes.data(), held);
    const std::string_view text(bytes.data(), held - keep);
    std::size_t characters = 0;
    if (const auto problem = corvane::cli::decodeText(text, TextMode::Unicode, wide.data(), characters, wide.size())) {
      std::fprintf(stderr, "corvane_transcode_floor: %s: %s\n", argv[2], problem->what.c_str());
      return 1;
    }
    const std::size_t encoded =
        corvane::cli::encodeTextAt(std::u32string_view(wide.data(), characters), TextMode::Unicode, narrow.data());
    if (!writeAll(out, narrow.data(), encoded)) return fail("cannot write", argv[3]);
    std::memmove(bytes.data(), bytes.data() + held - keep, keep);
    carried = keep;
    if (n == 0) break;
  }
  if (::close(out) != 0) return fail("cannot write", argv[3]);
  ::close(in);
  return 0;
}
