#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace kelvor::test {

namespace fs = std::filesystem;

fs::path Fixture(const std::string& name) { return fs::path(KELVOR_FIXTURE_DIR) / name; }

fs::path PublicSample(const std::string& name) {
  fs::path p = fs::path(KELVOR_PUBLIC_SAMPLES) / name;
  return fs::exists(p) ? p : fs::path();
}

fs::path TempDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "kelvor";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  fs::path dir = fs::temp_directory_path() /
                 ("kelvor-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

fs::path PathOfText(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

#ifdef _WIN32
// The Windows build's tests run no commands of the host.
int RunCommand(const std::string&, std::string*) { return -1; }
#else
int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (out != nullptr) out->append(buffer, n);
  }
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

void RecordingUiPort::showMessage(std::string_view text, MessageKind kind) {
  std::lock_guard lock(mutex_);
  messages_.emplace_back(text);
  kinds_.push_back(kind);
}
void RecordingUiPort::clearTrackRows() {
  std::lock_guard lock(mutex_);
  rows_.clear();
}
void RecordingUiPort::addTrackRow(std::string_view text) {
  std::lock_guard lock(mutex_);
  rows_.emplace_back(text);
}
void RecordingUiPort::setConvertEnabled(bool enabled) {
  std::lock_guard lock(mutex_);
  convertEnabled_ = enabled;
}
void RecordingUiPort::setStatusText(std::string_view text) {
  std::lock_guard lock(mutex_);
  status_ = text;
}
void RecordingUiPort::setTimeText(std::string_view text) {
  std::lock_guard lock(mutex_);
  time_ = text;
}
void RecordingUiPort::setProgress(unsigned percent) {
  std::lock_guard lock(mutex_);
  progress_ = percent;
}
void RecordingUiPort::setStopEnabled(bool) {}
void RecordingUiPort::finished() {
  std::lock_guard lock(mutex_);
  ++finished_;
}
std::vector<std::string> RecordingUiPort::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}
std::vector<MessageKind> RecordingUiPort::kinds() const {
  std::lock_guard lock(mutex_);
  return kinds_;
}
std::vector<std::string> RecordingUiPort::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}
bool RecordingUiPort::convertEnabled() const {
  std::lock_guard lock(mutex_);
  return convertEnabled_;
}
std::string RecordingUiPort::statusText() const {
  std::lock_guard lock(mutex_);
  return status_;
}
std::string RecordingUiPort::timeText() const {
  std::lock_guard lock(mutex_);
  return time_;
}
unsigned RecordingUiPort::progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}
int RecordingUiPort::finishedCount() const {
  std::lock_guard lock(mutex_);
  return finished_;
}

}  // namespace kelvor::test
