// fuzz_batcher.cpp - the streaming batcher against one call: formatted-to-list
// and string-to-list, on both builds, run over a file in batches of one to a
// few rows and a few characters, write exactly what they write when the
// whole text goes to the plug-in in one call, with the same warnings, or
// fail the same way (a run may fail on the plug-in's result in one and on
// the input in the other, or on a bad row in one and on a text that does
// not end with --after in the other: one call reads the whole text first).
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <string_view>

#include "Commands.h"
#include "Escapes.h"
#include "FuzzTools.h"
#include "Streaming.h"

namespace {

using namespace corvane::cli;

std::string& scratchDir() {
  static std::string dir;
  return dir;
}

// Removed when the fuzzer exits (an input that crashes leaves it behind).
void removeScratch() {
  for (const char* name : {"input", "one.out", "one.err", "batched.out", "batched.err"})
    std::remove((scratchDir() + "/" + name).c_str());
  ::rmdir(scratchDir().c_str());
}

std::string scratch() {
  static const std::string dir = [] {
    // In memory where there is such a file system: creating a file on
    // disk for every input costs more than the run.
    char shm[] = "/dev/shm/fuzz_batcher.XXXXXX";
    char tmp[] = "/tmp/fuzz_batcher.XXXXXX";
    char* path = ::mkdtemp(shm) != nullptr ? shm : ::mkdtemp(tmp);
    if (path == nullptr) std::abort();
    scratchDir() = path;
    std::atexit(removeScratch);
    return std::string(path);
  }();
  return dir;
}

Session& session(bool unicode) {
  static std::unique_ptr<Session> sessions[2];
  auto& s = sessions[unicode ? 1 : 0];
  if (!s)
    s = std::make_unique<Session>(
        std::string(CORVANE_PLUGIN_DIR) + (unicode ? "/CorvaneU" : "/Corvane") + CORVANE_PLUGIN_SUFFIX,
        false);
  return *s;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Characters from bytes, as an option gives them: UTF-8 where it decodes
// (one character per byte in the 8-bit build), never a zero character.
std::u32string characters(std::string_view bytes, TextMode mode, std::size_t most) {
  std::u32string out;
  if (mode == TextMode::Unicode) {
    while (!bytes.empty()) {
      auto problem = decodeText(bytes, mode, out);
      if (!problem) break;
      out.push_back(0x80 + static_cast<unsigned char>(bytes[problem->byteOffset]) % 0x7F);
      bytes.remove_prefix(problem->byteOffset + 1);
    }
  } else {
    for (char c : bytes) out.push_back(static_cast<unsigned char>(c));
  }
  for (char32_t& c : out)
    if (c == 0) c = U'0';
  if (out.size() > most) out.resize(most);
  return out;
}

struct Run {
  int status = 0;
  std::string out, err;
};

template <class Stream>
Run run(const std::string& name, const Stream& stream) {
  const std::string output = scratch() + "/" + name + ".out", errors = scratch() + "/" + name + ".err";
  std::remove(output.c_str());
  Run r;
  // The warnings are part of what must be the same: standard error goes to
  // a file while the command runs.
  std::fflush(stderr);
  const int saved = ::dup(2);
  const int file = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(file, 2);
  ::close(file);
  try {
    stream(output);
  } catch (const Failure& failure) {
    r.status = failure.status();
    std::fprintf(stderr, "corvane: %s\n", failure.what());
  } catch (const std::bad_alloc&) {
    r.status = kExitFiles;
  }
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  r.out = r.status == 0 ? slurp(output) : std::string();
  r.err = slurp(errors);
  return r;
}

bool same(const Run& one, const Run& batched) {
  if (one.status == 0 || batched.status == 0)
    return one.status == batched.status && one.out == batched.out && one.err == batched.err;
  if ((one.status == 1 && batched.status == 3) || (one.status == 3 && batched.status == 1)) return true;
  // A text that does not end with --after, which one call finds before it
  // runs, may fail first on a bad row in a batch before its end.
  if (one.status == 3 && batched.status == 3 &&
      one.err.find(" does not end with the text of ") != std::string::npos)
    return true;
  // One call decodes the whole text before it reads a cell, batches one
  // batch at a time: a text that cannot be decoded further on is refused by
  // one call before a bad cell in an earlier batch is found.
  if (one.status == 3 && batched.status == 3 &&
      (one.err.find(": invalid UTF-8 (byte ") != std::string::npos ||
       one.err.find(": a zero character, which ends") != std::string::npos ||
       one.err.find(" is outside Latin-1, ") != std::string::npos ||
       one.err.find(" does not fit in one byte") != std::string::npos))
    return true;
  return one.status == batched.status && one.err == batched.err;
}

}  // namespace

// Input: byte 0: bit 0 string-to-list, bit 1 the 8-bit build, bits 2-4 the
// cell escaping, bits 5-6 one to four columns; byte 1: rows (bits 0-1) and
// characters (bits 2-5) per batch; then, separated by 0x01 bytes, the six
// format strings and --before and --after (string-to-list: the delimiter),
// and the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool delimited = (data[0] & 1) != 0;
  const bool unicode = (data[0] & 2) == 0;
  Session& s = session(unicode);

  Job job;
  job.mode = s.mode();
  job.unicode = s.unicode();
  job.dialect.lineEnd = LineEnd::Lf;
  const std::size_t columns = 1 + ((data[0] >> 5) & 3);
  for (std::size_t c = 0; c < columns; ++c)
    job.columns.push_back(std::u32string(1, static_cast<char32_t>(U'a' + c)));

  std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
  std::u32string strings[8];
  const std::size_t wanted = delimited ? 1 : 8;
  for (std::size_t i = 0; i < wanted; ++i) {
    const std::size_t cut = rest.find('\x01');
    if (cut == std::string_view::npos) break;
    strings[i] = characters(rest.substr(0, cut), job.mode, delimited ? 1 : 255);
    rest.remove_prefix(cut + 1);
  }
  {
    std::ofstream input(scratch() + "/input", std::ios::binary | std::ios::trunc);
    input.write(rest.data(), static_cast<std::streamsize>(rest.size()));
  }

  StreamOptions one;
  one.input = scratch() + "/input";
  one.progress = ProgressMode::Never;
  one.batchRows = one.batchBytes = std::size_t{1} << 30;
  StreamOptions small = one;
  small.batchRows = 1 + (data[1] & 3);
  small.batchBytes = 1 + ((data[1] >> 2) & 15);

  auto runWith = [&](const StreamOptions& base, const std::string& name) {
    return run(name, [&](const std::string& output) {
      StreamOptions options = base;
      options.output = output;
      Job j = job;
      if (delimited) {
        if (!strings[0].empty()) j.delimiter = strings[0];
        streamStringToList(s, options, std::move(j));
      } else {
        j.format = Format{strings[0], strings[1], strings[2], strings[3], strings[4], strings[5]};
        j.escape = static_cast<CellEscape>(((data[0] >> 2) & 7) % 5);
        streamFormattedToList(s, options, std::move(j), strings[6], strings[7], "--before", "--after");
      }
    });
  };
  const Run whole = runWith(one, "one");
  const Run batched = runWith(small, "batched");
  if (!same(whole, batched))
    cvfuzz::toolCheckFailed("batches write what one call writes",
                            "one call: status " + std::to_string(whole.status) + ", " + whole.out +
                                whole.err + "\nbatches: status " + std::to_string(batched.status) + ", " +
                                batched.out + batched.err);
  return 0;
}
