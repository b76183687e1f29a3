#pragma once
// Helpers shared by the test programs.
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "common/ui_port.h"

namespace kelvor::test {

// A generated stream made by tests/fixtures/make_streams.sh.
std::filesystem::path Fixture(const std::string& name);
// A real stream from the shared public samples; empty when it is absent.
std::filesystem::path PublicSample(const std::string& name);
// A fresh, empty directory for one test's files.
std::filesystem::path TempDir();

// The path as the program takes paths: UTF-8 on every system.
std::string PathText(const std::filesystem::path& path);
std::filesystem::path PathOfText(const std::string& text);

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Runs a shell command; returns its exit status and captures stdout.
int RunCommand(const std::string& command, std::string* out = nullptr);

// Records everything the core tells the user.
class RecordingUiPort : public UiPort {
 public:
  void showMessage(std::string_view text, MessageKind kind) override;
  void clearTrackRows() override;
  void addTrackRow(std::string_view text) override;
  void setConvertEnabled(bool enabled) override;
  void setStatusText(std::string_view text) override;
  void setTimeText(std::string_view text) override;
  void setProgress(unsigned percent) override;
  void setStopEnabled(bool enabled) override;
  void finished() override;

  std::vector<std::string> messages() const;
  std::vector<MessageKind> kinds() const;
  std::vector<std::string> rows() const;
  bool convertEnabled() const;
  std::string statusText() const;
  std::string timeText() const;
  unsigned progress() const;
  int finishedCount() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> messages_;
  std::vector<MessageKind> kinds_;
  std::vector<std::string> rows_;
  bool convertEnabled_ = false;
  std::string status_;
  std::string time_;
  unsigned progress_ = 0;
  int finished_ = 0;
};

}  // namespace kelvor::test
