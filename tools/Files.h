// Files.h - input and output files, or standard input and output.
#ifndef CORVANE_TOOLS_FILES_H
#define CORVANE_TOOLS_FILES_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

// "" and "-" mean standard input / output.
bool isStandardStream(std::string_view path);
// How messages name a file: the path, or "standard input".
std::string inputName(std::string_view path);

// The whole file, bytes unchanged.  Throws Failure (files).  For small
// files only (format files); data is read through InputFile.
std::string readInput(std::string_view path);

// Writes the bytes through an OutputFile and commits them.
void writeOutput(std::string_view path, std::string_view bytes);

// A file (or standard input) read a block at a time.
class InputFile {
 public:
  // Opens the file; throws Failure (files) when it cannot be read.
  explicit InputFile(std::string_view path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Appends up to `most` bytes to `out`; 0 at the end of the file.  Throws
  // Failure (files) on a read error.
  std::size_t read(std::string& out, std::size_t most);
  // The size of a regular file, for progress; nothing for pipes.
  std::optional<std::uint64_t> size() const { return size_; }
  // Bytes read so far.
  std::uint64_t position() const { return position_; }
  const std::string& name() const { return name_; }

 private:
  int fd_ = -1;
  bool standard_ = false;
  std::string name_;
  std::optional<std::uint64_t> size_;
  std::uint64_t position_ = 0;
};

// Where the output goes, written as it is made.  A regular file is written
// to a temporary file beside it, renamed over the path by commit(), so that
// a failure leaves the path as it was and no partial file behind; a device,
// pipe or standard output is written directly.  Write errors (a full disk,
// a closed pipe) throw Failure (files).
class OutputFile {
 public:
  explicit OutputFile(std::string_view path);
  // Removes the temporary file unless commit() ran.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::string_view bytes);
  // Everything is written: puts the file in place.
  void commit();

 private:
  void fail(int error) const;

  std::string path_;
  std::string shownName_;
  int fd_ = -1;
  bool direct_ = false;   // standard output or a device: no temporary file
  bool ownsFd_ = false;
  std::string temporary_;  // the temporary file's name while it exists
  unsigned mode_ = 0;
  bool committed_ = false;
};

}  // namespace corvane::cli

#endif
