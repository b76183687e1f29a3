#pragma once
// How the core talks to the user. The desktop program and the command line
// each implement it; the core never includes a GUI header.
#include <string_view>

namespace kelvor {

// What a message is, which decides how a message box shows it.
enum class MessageKind {
  Error,   // failures and stream warnings: the stop icon
  Report,  // the final report of a conversion: no icon
};

class UiPort {
 public:
  virtual ~UiPort() = default;

  // Shows a message and returns once the user has acknowledged it. Any
  // thread may call it; the calling thread waits.
  virtual void showMessage(std::string_view text, MessageKind kind) = 0;

  // Track list (the main window's list box).
  virtual void clearTrackRows() = 0;
  virtual void addTrackRow(std::string_view text) = 0;
  // The Convert command and the Start button.
  virtual void setConvertEnabled(bool enabled) = 0;

  // Conversion progress: status line, time line, progress bar (0..100) and
  // the Stop button.
  virtual void setStatusText(std::string_view text) = 0;
  virtual void setTimeText(std::string_view text) = 0;
  virtual void setProgress(unsigned percent) = 0;
  virtual void setStopEnabled(bool enabled) = 0;

  // The worker has finished; its progress dialog may close.
  virtual void finished() = 0;
};

// A port that does nothing: for tests and for callers that need no output.
class NullUiPort : public UiPort {
 public:
  void showMessage(std::string_view, MessageKind) override {}
  void clearTrackRows() override {}
  void addTrackRow(std::string_view) override {}
  void setConvertEnabled(bool) override {}
  void setStatusText(std::string_view) override {}
  void setTimeText(std::string_view) override {}
  void setProgress(unsigned) override {}
  void setStopEnabled(bool) override {}
  void finished() override {}
};

}  // namespace kelvor
