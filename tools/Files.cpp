// Files.cpp - inputs read in blocks, outputs written as they are made and
// put in place all or nothing.
#include "Files.h"

#include "Failure.h"
#include "Transcoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace corvane::cli {

namespace {

[[noreturn]] void failFile(const std::string& what, std::string_view path, int error) {
  throw Failure(kExitFiles, what + " " + std::string(path) + ": " + std::strerror(error));
}

mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

bool isStandardStream(std::string_view path) { return path.empty() || path == "-"; }

std::string inputName(std::string_view path) {
  return isStandardStream(path) ? std::string("standard input") : std::string(path);
}

// --- input ----------------------------------------------------------------------

InputFile::InputFile(std::string_view path, std::string_view encoding)
    : standard_(isStandardStream(path)), name_(inputName(path)) {
  if (!isUtf8(encoding)) decoder_ = std::make_unique<Transcoder>(encoding, "UTF-8");
  const std::string file(path);
  fd_ = standard_ ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) failFile("cannot read", name_, errno);
  struct stat info {};
  if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) size_ = static_cast<std::uint64_t>(info.st_size);
}

InputFile::~InputFile() {
  if (!standard_ && fd_ >= 0) ::close(fd_);
}

std::size_t InputFile::read(std::string& out, std::size_t most) {
  if (!decoder_) return readRaw(out, most);
  const std::size_t old = out.size();
  // A block may hold only part of a character: read on until some text
  // comes out, or the end.
  while (out.size() == old && !ended_) {
    raw_.clear();
    ended_ = readRaw(raw_, most) == 0;
    if (auto problem = decoder_->convert(raw_, out, ended_))
      throw Failure(kExitInput, name_ + ": line " + std::to_string(problem->line) + ", byte offset " +
                                    std::to_string(problem->byteOffset) + ": " + problem->what);
  }
  return out.size() - old;
}

std::size_t InputFile::readRaw(std::string& out, std::size_t most) {
  const std::size_t old = out.size();
  out.resize(old + most);
  for (;;) {
    const ssize_t n = ::read(fd_, out.data() + old, most);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      out.resize(old);
      failFile("cannot read", name_, error);
    }
    out.resize(old + static_cast<std::size_t>(n));
    position_ += static_cast<std::uint64_t>(n);
    return static_cast<std::size_t>(n);
  }
}

std::string readInput(std::string_view path) {
  InputFile file(path);
  std::string bytes;
  while (file.read(bytes, 1 << 16) != 0) {
  }
  return bytes;
}

// --- output ---------------------------------------------------------------------

OutputFile::OutputFile(std::string_view path, std::string_view encoding) : path_(path) {
  if (!isUtf8(encoding)) encoder_ = std::make_unique<Transcoder>("UTF-8", encoding);
  if (isStandardStream(path)) {
    fd_ = STDOUT_FILENO;
    direct_ = true;
    shownName_ = "standard output";
    return;
  }
  shownName_ = path_;
  struct stat existing {};
  const bool exists = ::stat(path_.c_str(), &existing) == 0;
  if (exists && (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode) || S_ISSOCK(existing.st_mode))) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) failFile("cannot write", path_, errno);
    direct_ = true;
    ownsFd_ = true;
    return;
  }
  // A directory given as the output fails here rather than at the rename
  // after all the work.
  if (exists && S_ISDIR(existing.st_mode)) fail(EISDIR);
  const std::filesystem::path target{path_};
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  std::string name = (dir / ("." + target.filename().string() + ".corvane-XXXXXX")).string();
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  fd_ = ::mkstemp(buffer.data());
  if (fd_ < 0) failFile("cannot write", path_, errno);
  ownsFd_ = true;
  temporary_ = buffer.data();
  mode_ = exists && S_ISREG(existing.st_mode) ? (existing.st_mode & 07777) : newFileMode();
}

OutputFile::~OutputFile() {
  if (ownsFd_ && fd_ >= 0) ::close(fd_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void OutputFile::fail(int error) const { failFile("cannot write", shownName_, error); }

void OutputFile::write(std::string_view bytes) {
  if (encoder_) return encode(bytes, false);
  writeBytes(bytes);
}

void OutputFile::encode(std::string_view utf8, bool last) {
  encoded_.clear();
  if (auto problem = encoder_->convert(utf8, encoded_, last)) {
    // Where the character stands in the whole output text.
    const std::size_t at = std::min(problem->byteOffset - std::min(problem->byteOffset, given_), utf8.size());
    const std::string_view before = utf8.substr(0, at);
    std::size_t line = line_, character = column_;
    const std::size_t lastBreak = before.rfind('\n');
    if (lastBreak != std::string_view::npos) {
      line += static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
      character = 0;
    }
    const std::string_view tail = lastBreak == std::string_view::npos ? before : before.substr(lastBreak + 1);
    for (char c : tail) character += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u ? 1 : 0;
    throw Failure(kExitInput, shownName_ + ": line " + std::to_string(line) + ", character " +
                                  std::to_string(character + 1) + ": " + problem->what);
  }
  const std::size_t lastBreak = utf8.rfind('\n');
  if (lastBreak != std::string_view::npos) {
    line_ += static_cast<std::size_t>(std::count(utf8.begin(), utf8.end(), '\n'));
    column_ = 0;
  }
  for (char c : lastBreak == std::string_view::npos ? utf8 : utf8.substr(lastBreak + 1))
    column_ += (static_cast<unsigned char>(c) & 0xC0u) != 0x80u ? 1 : 0;
  given_ += utf8.size();
  writeBytes(encoded_);
}

void OutputFile::writeBytes(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void OutputFile::commit() {
  if (encoder_) encode({}, true);
  if (direct_) {
    if (ownsFd_) {
      const int fd = fd_;
      fd_ = -1;
      if (::close(fd) != 0) fail(errno);
    }
    committed_ = true;
    return;
  }
  if (::fchmod(fd_, static_cast<mode_t>(mode_)) != 0) fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) fail(errno);
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
  committed_ = true;
}

void writeOutput(std::string_view path, std::string_view bytes) {
  OutputFile out(path);
  out.write(bytes);
  out.commit();
}

}  // namespace corvane::cli
