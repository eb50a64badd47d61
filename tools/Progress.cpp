// Progress.cpp - a progress line that rewrites itself.
#include "Progress.h"

#include <unistd.h>

#include <cstdio>

namespace corvane::cli {

namespace {

constexpr std::uint64_t kEveryCells = 4096;
constexpr auto kFirstAfter = std::chrono::milliseconds(500);
constexpr auto kRefresh = std::chrono::milliseconds(100);

}  // namespace

std::string groupDigits(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

ProgressMeter::ProgressMeter(corvane::host::Host& host, std::string label, ProgressMode mode,
                             std::function<std::uint64_t()> total)
    : host_(host),
      label_(std::move(label)),
      mode_(mode == ProgressMode::Auto && ::isatty(STDERR_FILENO) == 0 ? ProgressMode::Never : mode),
      total_(std::move(total)),
      start_(std::chrono::steady_clock::now()) {
  if (mode_ != ProgressMode::Never)
    host_.setProgress([this](std::uint64_t cells) { update(cells, false); }, kEveryCells);
}

ProgressMeter::~ProgressMeter() {
  host_.setProgress(nullptr, 0);
  // A command that failed half way leaves its line open: close it, so that
  // the message that follows starts a line of its own.
  if (shown_ && !finished_) std::fputs("\n", stderr);
}

void ProgressMeter::update(std::uint64_t cells, bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (!last) {
    if (!shown_ && mode_ == ProgressMode::Auto && now - start_ < kFirstAfter) return;
    if (shown_ && now - shownAt_ < kRefresh) return;
  }
  const std::uint64_t total = total_();
  std::string line = "\r" + label_ + ": " + groupDigits(cells) + " of " + groupDigits(total) + " cells";
  if (total != 0) line += " (" + std::to_string(cells >= total ? 100 : cells * 100 / total) + "%)";
  if (last) line += "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  shown_ = true;
  shownAt_ = now;
}

void ProgressMeter::finish() {
  if (finished_) return;
  finished_ = true;
  host_.setProgress(nullptr, 0);
  if (shown_ || mode_ == ProgressMode::Always)
    update(host_.stats().cellsRead + host_.stats().cellsWritten, true);
}

}  // namespace corvane::cli
