#include "app_win32/win32_ui_port.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>

#include "app/control_ids.h"
#include "app/logic/message_text.h"
#include "app_win32/main_window.h"
#include "app_win32/window_text.h"

namespace kelvor {

void Win32UiPort::showMessage(std::string_view text, MessageKind kind) {
  const UINT icon = kind == MessageKind::Report ? 0u : MB_ICONSTOP;
  // Owned by the main window, so that the progress dialog's Abort or Stop
  // stays usable while the worker waits here.
  ::MessageBoxW(main_.window(), Wide(MessageBoxText(text)).c_str(), L"KELVOR", MB_OK | icon);
  // Closing the box may enable its owner again, even though the progress
  // dialog had disabled it; it stays disabled while that dialog is up (and
  // refuses its commands meanwhile, MainWindow::onCommand).
  if (dialog_.load() != nullptr) ::EnableWindow(main_.window(), FALSE);
}

void Win32UiPort::queue(Update update) {
  {
    const std::lock_guard lock(mutex_);
    updates_.push_back(std::move(update));
  }
  HWND target = dialog_.load();
  ::PostMessageW(target != nullptr ? target : main_.window(), kUpdatesPending, 0, 0);
}

void Win32UiPort::clearTrackRows() { queue({Update::Kind::ClearRows, {}, 0}); }
void Win32UiPort::addTrackRow(std::string_view text) { queue({Update::Kind::AddRow, std::string(text), 0}); }
void Win32UiPort::setConvertEnabled(bool enabled) { queue({Update::Kind::ConvertEnabled, {}, enabled}); }
void Win32UiPort::setStatusText(std::string_view text) { queue({Update::Kind::Status, std::string(text), 0}); }
void Win32UiPort::setTimeText(std::string_view text) { queue({Update::Kind::Time, std::string(text), 0}); }
void Win32UiPort::setProgress(unsigned percent) { queue({Update::Kind::Progress, {}, std::min(percent, 100u)}); }
void Win32UiPort::setStopEnabled(bool enabled) { queue({Update::Kind::StopEnabled, {}, enabled}); }

void Win32UiPort::finished() {
  // Posted after every queued update, so the dialog applies them all before
  // it closes.
  HWND target = dialog_.load();
  if (target != nullptr) ::PostMessageW(target, WM_APP, 0, 0);
}

void Win32UiPort::applyUpdates() {
  std::deque<Update> pending;
  {
    const std::lock_guard lock(mutex_);
    pending.swap(updates_);
  }
  HWND dialog = dialog_.load();
  for (const Update& u : pending) {
    switch (u.kind) {
      case Update::Kind::ClearRows: main_.clearTrackRows(); break;
      case Update::Kind::AddRow: main_.addTrackRow(u.text); break;
      case Update::Kind::ConvertEnabled: main_.setConvertEnabled(u.value != 0); break;
      case Update::Kind::Status:
        if (dialog != nullptr) SetText(::GetDlgItem(dialog, ids::kStatusText), u.text);
        break;
      case Update::Kind::Time:
        if (dialog != nullptr) SetText(::GetDlgItem(dialog, ids::kTimeText), u.text);
        break;
      case Update::Kind::Progress:
        if (dialog != nullptr) ::SendDlgItemMessageW(dialog, ids::kProgressBar, PBM_SETPOS, u.value, 0);
        break;
      case Update::Kind::StopEnabled:
        if (dialog != nullptr) ::EnableWindow(::GetDlgItem(dialog, ids::kStop), u.value != 0);
        break;
    }
  }
}

}  // namespace kelvor
