#include "cli/cli_ui_port.h"

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

void CliUiPort::drawBar() {
  if (!progressBar_) return;
  constexpr unsigned kWidth = 30;
  const unsigned filled = percent_ * kWidth / 100;
  std::fprintf(stderr, "\r[%.*s%*s] %3u%%  video %s", static_cast<int>(filled),
               "##############################", static_cast<int>(kWidth - filled), "", percent_,
               time_.c_str());
  std::fflush(stderr);
  barShown_ = true;
}

void CliUiPort::endProgressLine() {
  std::lock_guard lock(mutex_);
  if (barShown_) {
    std::fputc('\n', stderr);
    barShown_ = false;
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
