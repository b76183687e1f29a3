#pragma once
// The Windows desktop program's side of UiPort. A worker's updates are queued
// and a message is posted to the progress dialog that is up, whose window
// procedure applies them on the user interface thread, in order; finished()
// posts WM_APP, on which the dialog closes. A message box is shown by the
// calling thread itself, owned by the main window, and blocks that thread
// only: the dialog's Abort or Stop button stays usable meanwhile.
#include "app_win32/win32.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

#include "common/ui_port.h"

namespace kelvor {

class MainWindow;

// Posted to the progress dialog: queued updates are waiting.
inline constexpr UINT kUpdatesPending = WM_APP + 1;

class Win32UiPort final : public UiPort {
 public:
  explicit Win32UiPort(MainWindow& main) : main_(main) {}

  void showMessage(std::string_view text, MessageKind kind) override;
  void clearTrackRows() override;
  void addTrackRow(std::string_view text) override;
  void setConvertEnabled(bool enabled) override;
  void setStatusText(std::string_view text) override;
  void setTimeText(std::string_view text) override;
  void setProgress(unsigned percent) override;
  void setStopEnabled(bool enabled) override;
  void finished() override;

  // The progress dialog that receives the updates (user interface thread,
  // before the worker starts and after it has ended).
  void setDialog(HWND dialog) { dialog_.store(dialog); }
  // A progress dialog is up (user interface thread).
  bool busy() const { return dialog_.load() != nullptr; }
  // Applies the queued updates (user interface thread, on kUpdatesPending).
  void applyUpdates();

 private:
  struct Update {
    enum class Kind { ClearRows, AddRow, ConvertEnabled, Status, Time, Progress, StopEnabled } kind;
    std::string text;
    unsigned value = 0;
  };
  void queue(Update update);

  MainWindow& main_;
  std::atomic<HWND> dialog_{nullptr};
  std::mutex mutex_;
  std::deque<Update> updates_;  // guarded by mutex_
};

}  // namespace kelvor
