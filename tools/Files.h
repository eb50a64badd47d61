// Files.h - input and output files, or standard input and output.
#ifndef CORVANE_TOOLS_FILES_H
#define CORVANE_TOOLS_FILES_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace corvane::cli {

class Transcoder;

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
  // Opens the file; throws Failure (files) when it cannot be read.  With an
  // `encoding` (not UTF-8) what read() gives is the text converted to
  // UTF-8, block by block; bytes invalid in the encoding throw Failure
  // (input) naming the line and byte offset.
  explicit InputFile(std::string_view path, std::string_view encoding = {});
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Appends up to `most` bytes read (more once converted) to `out`; 0 at
  // the end of the file.  Throws Failure (files) on a read error.
  std::size_t read(std::string& out, std::size_t most);
  // The size of a regular file, for progress; nothing for pipes.
  std::optional<std::uint64_t> size() const { return size_; }
  // Bytes of the file read so far.
  std::uint64_t position() const { return position_; }
  const std::string& name() const { return name_; }

 private:
  std::size_t readRaw(std::string& out, std::size_t most);

  int fd_ = -1;
  bool standard_ = false;
  std::string name_;
  std::unique_ptr<Transcoder> decoder_;
  std::string raw_;
  bool ended_ = false;
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
  // With an `encoding` (not UTF-8) the UTF-8 written is converted to it as
  // it comes; a character the encoding cannot hold throws Failure (input)
  // naming its line and character in the output.
  explicit OutputFile(std::string_view path, std::string_view encoding = {});
  // Removes the temporary file unless commit() ran.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void write(std::string_view bytes);
  // Everything is written: puts the file in place.
  void commit();

 private:
  void fail(int error) const;
  void writeBytes(std::string_view bytes);
  void encode(std::string_view utf8, bool last);

  std::string path_;
  std::string shownName_;
  int fd_ = -1;
  bool direct_ = false;  // standard output or a device: no temporary file
  bool ownsFd_ = false;
  std::string temporary_;  // the temporary file's name while it exists
  unsigned mode_ = 0;
  bool committed_ = false;
  std::unique_ptr<Transcoder> encoder_;
  std::string encoded_;
  std::size_t line_ = 1, column_ = 0;  // where the text given next starts
  std::size_t given_ = 0;              // bytes of text given so far
};

}  // namespace corvane::cli

#endif
