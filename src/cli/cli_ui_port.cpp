#include "cli/cli_ui_port.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace kelvor::cli {

void CliUiPort::showMessage(std::string_view text, MessageKind kind) {
  std::lock_guard lock(mutex_);
  if (kind == MessageKind::Report) {
    report_ = text;
    return;
  }
  std::string line(text);
  // Message boxes break lines at '\r'; a terminal wants '\n'.
  for (char& c : line) {
    if (c == '\r') c = '\n';
  }
  messages_.push_back(line);
  if (holding_) {
    held_.push_back(std::move(line));
    return;
  }
  print(line);
}

void CliUiPort::print(const std::string& line) {
  if (barShown_) {
    std::fputc('\n', stderr);
    barShown_ = false;
    barLength_ = 0;
  }
  std::fprintf(stderr, "kelvor: %s\n", line.c_str());
}

void CliUiPort::holdMessages() {
  std::lock_guard lock(mutex_);
  holding_ = true;
}

void CliUiPort::releaseMessages(bool print) {
  std::lock_guard lock(mutex_);
  holding_ = false;
  if (print) {
    for (const std::string& line : held_) this->print(line);
  }
  held_.clear();
}

void CliUiPort::printReport() {
  std::string line;
  {
    std::lock_guard lock(mutex_);
    line.swap(report_);
  }
  if (!line.empty()) showMessage(line, MessageKind::Error);
}

void CliUiPort::clearTrackRows() {
  std::lock_guard lock(mutex_);
  rows_.clear();
}

void CliUiPort::addTrackRow(std::string_view text) {
  std::lock_guard lock(mutex_);
  rows_.emplace_back(text);
}

void CliUiPort::setStatusText(std::string_view text) {
  std::lock_guard lock(mutex_);
  status_ = text;
}

void CliUiPort::setTimeText(std::string_view text) {
  std::lock_guard lock(mutex_);
  time_ = text;
  drawBar();
}

void CliUiPort::setProgress(unsigned percent) {
  std::lock_guard lock(mutex_);
  percent_ = percent;
  drawBar();
}

void CliUiPort::enableProgressBar(bool enabled, std::uint64_t inputBytes) {
  std::lock_guard lock(mutex_);
  progressBar_ = enabled;
  inputBytes_ = inputBytes;
  percent_ = 0;
  start_ = std::chrono::steady_clock::now();
}

void CliUiPort::completeProgress() {
  std::lock_guard lock(mutex_);
  percent_ = 100;
  drawBar();
}

void CliUiPort::drawBar() {
  if (!progressBar_) return;
  constexpr unsigned kWidth = 30;
  const unsigned filled = percent_ * kWidth / 100;
  // Speed and time left once there is a second and a step to go by.
  char rate[48] = "";
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  if (percent_ > 0 && seconds >= 1.0 && inputBytes_ > 0) {
    const double done = static_cast<double>(inputBytes_) * percent_ / 100.0;
    const double bytesPerSecond = done / seconds;
    if (percent_ < 100) {
      const auto left = static_cast<unsigned>((static_cast<double>(inputBytes_) - done) / bytesPerSecond + 0.5);
      std::snprintf(rate, sizeof rate, "  %.1f MB/s  %u:%02u:%02u left", bytesPerSecond / 1e6, left / 3600,
                    left / 60 % 60, left % 60);
    } else {
      std::snprintf(rate, sizeof rate, "  %.1f MB/s", bytesPerSecond / 1e6);
    }
  }
  // Blanks over the end of a longer line drawn before.
  const int length = std::fprintf(stderr, "\r[%.*s%*s] %3u%%  video %s%s", static_cast<int>(filled),
                                  "##############################", static_cast<int>(kWidth - filled), "",
                                  percent_, time_.c_str(), rate);
  if (length < barLength_) std::fprintf(stderr, "%*s", barLength_ - length, "");
  barLength_ = std::max(length, barLength_);
  std::fflush(stderr);
  barShown_ = true;
}

void CliUiPort::endProgressLine() {
  std::lock_guard lock(mutex_);
  if (barShown_) {
    std::fputc('\n', stderr);
    barShown_ = false;
    barLength_ = 0;
  }
}

std::vector<std::string> CliUiPort::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

std::vector<std::string> CliUiPort::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::string CliUiPort::timeText() const {
  std::lock_guard lock(mutex_);
  return time_;
}

}  // namespace kelvor::cli
