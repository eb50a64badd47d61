// Progress.h - how far a run is, on standard error.
//
// The program counts the bytes of input whose output has been written, and
// shows them against the input's size (when it is a file) with the rate so
// far.  In the automatic mode a line appears only on a terminal and only
// once the run has taken half a second.
#ifndef CORVANE_TOOLS_PROGRESS_H
#define CORVANE_TOOLS_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace corvane::cli {

enum class ProgressMode { Auto, Always, Never };

class ProgressMeter {
 public:
  ProgressMeter(std::string label, ProgressMode mode, std::optional<std::uint64_t> total);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // So many bytes of input are done.
  void update(std::uint64_t done);
  // Ends the line once the run is done, if one was shown (always in the
  // Always mode).
  void finish(std::uint64_t done);

 private:
  void show(std::uint64_t done, bool last);

  std::string label_;
  ProgressMode mode_;
  std::optional<std::uint64_t> total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shownAt_{};
  bool shown_ = false;
  bool finished_ = false;
};

// 1234567 as "1,234,567".
std::string groupDigits(std::uint64_t value);

}  // namespace corvane::cli

#endif
