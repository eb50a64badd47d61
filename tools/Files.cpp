// Files.cpp - reading whole inputs, writing outputs all or nothing.
#include "Files.h"

#include "Failure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A temporary file that is removed unless it was renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::filesystem::path& target) {
    std::filesystem::path dir = target.parent_path();
    if (dir.empty()) dir = ".";
    std::string name = (dir / ("." + target.filename().string() + ".corvane-XXXXXX")).string();
    name_.assign(name.begin(), name.end());
    name_.push_back('\0');
    fd_ = ::mkstemp(name_.data());
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && fd_ != -1) ::unlink(name_.data());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  const char* name() const { return name_.data(); }
  // Closes the file; false (with errno) when the last writes failed.
  bool close() {
    const int fd = fd_;
    fd_ = -2;  // closed, still to be removed unless committed
    return ::close(fd) == 0;
  }
  void committed() { committed_ = true; }

 private:
  std::vector<char> name_;
  int fd_ = -1;
  bool committed_ = false;
};

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

std::string readInput(std::string_view path) {
  const bool standard = isStandardStream(path);
  const std::string name(path);
  const int fd = standard ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) failFile("cannot read", inputName(path), errno);
  std::string bytes;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      if (!standard) ::close(fd);
      failFile("cannot read", inputName(path), error);
    }
    bytes.append(buffer.data(), static_cast<std::size_t>(n));
  }
  if (!standard) ::close(fd);
  return bytes;
}

void writeOutput(std::string_view path, std::string_view bytes) {
  if (isStandardStream(path)) {
    if (!writeAll(STDOUT_FILENO, bytes)) failFile("cannot write", "standard output", errno);
    return;
  }
  const std::filesystem::path target{std::string(path)};
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode) || S_ISSOCK(existing.st_mode))) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) failFile("cannot write", path, errno);
    const bool written = writeAll(fd, bytes);
    const int error = errno;
    if (::close(fd) != 0 || !written) failFile("cannot write", path, written ? errno : error);
    return;
  }
  TemporaryFile temporary(target);
  if (!temporary.ok()) failFile("cannot write", path, errno);
  const mode_t mode = exists && S_ISREG(existing.st_mode) ? (existing.st_mode & 07777) : newFileMode();
  if (!writeAll(temporary.fd(), bytes) || ::fchmod(temporary.fd(), mode) != 0 || !temporary.close())
    failFile("cannot write", path, errno);
  if (::rename(temporary.name(), target.c_str()) != 0) failFile("cannot write", path, errno);
  temporary.committed();
}

}  // namespace corvane::cli
