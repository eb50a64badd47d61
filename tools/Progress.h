// Progress.h - how far a command is, on standard error.
//
// The host sees every cell the plug-in reads or stores, so it can count
// them against the cells the list has.  In the automatic mode a line appears
// only on a terminal and only once the command has run for half a second.
#ifndef CORVANE_TOOLS_PROGRESS_H
#define CORVANE_TOOLS_PROGRESS_H

#include "Host.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace corvane::cli {

enum class ProgressMode { Auto, Always, Never };

class ProgressMeter {
 public:
  // `total` gives the number of cells the command will move; it is asked
  // each time, since a list being filled gets its lines during the command.
  ProgressMeter(corvane::host::Host& host, std::string label, ProgressMode mode,
                std::function<std::uint64_t()> total);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  // Ends the line once the command is done, if one was shown (always in
  // the Always mode).
  void finish();

 private:
  void update(std::uint64_t cells, bool last);

  corvane::host::Host& host_;
  std::string label_;
  ProgressMode mode_;
  std::function<std::uint64_t()> total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point shownAt_{};
  bool shown_ = false;
  bool finished_ = false;
};

// 1234567 as "1,234,567".
std::string groupDigits(std::uint64_t value);

}  // namespace corvane::cli

#endif
