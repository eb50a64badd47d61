// Progress.cpp - a progress line that rewrites itself.
#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace corvane::cli {

namespace {

constexpr auto kFirstAfter = std::chrono::milliseconds(500);
constexpr auto kRefresh = std::chrono::milliseconds(200);

std::string megabytes(double bytes) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f MB", bytes / 1e6);
  return buffer;
}

}  // namespace

std::string groupDigits(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

ProgressMeter::ProgressMeter(std::string label, ProgressMode mode, std::optional<std::uint64_t> total)
    : label_(std::move(label)),
      mode_(mode == ProgressMode::Auto && ::isatty(STDERR_FILENO) == 0 ? ProgressMode::Never : mode),
      total_(total),
      start_(std::chrono::steady_clock::now()) {}

ProgressMeter::~ProgressMeter() {
  // A run that failed half way leaves its line open: close it, so that the
  // message that follows starts a line of its own.
  if (shown_ && !finished_) std::fputs("\n", stderr);
}

void ProgressMeter::update(std::uint64_t done) {
  if (mode_ == ProgressMode::Never) return;
  const auto now = std::chrono::steady_clock::now();
  if (!shown_ && mode_ == ProgressMode::Auto && now - start_ < kFirstAfter) return;
  if (shown_ && now - shownAt_ < kRefresh) return;
  show(done, false);
}

void ProgressMeter::show(std::uint64_t done, bool last) {
  const auto now = std::chrono::steady_clock::now();
  std::string line = "\r" + label_ + ": " + groupDigits(done);
  if (total_) line += " of " + groupDigits(*total_);
  line += " bytes";
  if (total_ && *total_ != 0)
    line += " (" + std::to_string(done >= *total_ ? 100 : done * 100 / *total_) + "%)";
  const double seconds = std::chrono::duration<double>(now - start_).count();
  if (seconds > 0) line += ", " + megabytes(static_cast<double>(done) / seconds) + "/s";
  line += last ? "\n" : "   ";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  shown_ = true;
  shownAt_ = now;
}

void ProgressMeter::finish(std::uint64_t done) {
  if (finished_) return;
  finished_ = true;
  if (shown_ || mode_ == ProgressMode::Always) show(done, true);
}

}  // namespace corvane::cli
