#pragma once
// The command line's side of the UI: messages go to stderr at once, track
// rows are collected for printing, progress goes to a one-line bar. The final
// report of a conversion is kept until the command knows the outcome: it is
// printed only when the output is good.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/ui_port.h"

namespace kelvor::cli {

class CliUiPort : public UiPort {
 public:
  void showMessage(std::string_view text, MessageKind kind) override;
  void clearTrackRows() override;
  void addTrackRow(std::string_view text) override;
  void setConvertEnabled(bool) override {}
  void setStatusText(std::string_view text) override;
  void setTimeText(std::string_view text) override;
  void setProgress(unsigned percent) override;
  void setStopEnabled(bool) override {}
  void finished() override {}

  // The bar is drawn only when stderr is a terminal and quiet is off; with
  // the input's size it shows the speed and the time left.
  void enableProgressBar(bool enabled, std::uint64_t inputBytes);
  // The whole input was converted: the bar shows 100 %, whatever the last
  // step reported (steps are whole MiB).
  void completeProgress();
  // Ends the bar's line so that what follows starts on a fresh one.
  void endProgressLine();

  // Prints the final report held back, if any.
  void printReport();

  // Messages are kept from now on (during a scan, so that an input that
  // cannot be opened gets one line of the command's own, not the desktop
  // program's texts) until releaseMessages prints them, or drops them.
  void holdMessages();
  void releaseMessages(bool print);

  std::vector<std::string> rows() const;
  std::vector<std::string> messages() const;
  std::string timeText() const;

 private:
  void drawBar();
  void print(const std::string& line);  // with the mutex held

  mutable std::mutex mutex_;
  std::vector<std::string> rows_;
  std::vector<std::string> messages_;
  std::string status_;
  std::string report_;
  std::vector<std::string> held_;
  bool holding_ = false;
  std::string time_ = "00:00:00";
  unsigned percent_ = 0;
  bool progressBar_ = false;
  std::uint64_t inputBytes_ = 0;
  std::chrono::steady_clock::time_point start_;
  bool barShown_ = false;
  int barLength_ = 0;  // the longest bar line drawn, with its '\r'

};

}  // namespace kelvor::cli
