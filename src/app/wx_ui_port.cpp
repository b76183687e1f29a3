#include "app/wx_ui_port.h"

#include <future>
#include <utility>

#include <wx/app.h>
#include <wx/msgdlg.h>
#include <wx/thread.h>

#include "app/logic/message_text.h"
#include "app/main_frame.h"
#include "app/progress_dialogs.h"
#include "app/worker_message_box.h"

namespace kelvor {
namespace {

// Runs `f` on the user interface thread after the events queued before it.
template <typename F>
void OnUiThread(F&& f) {
  wxTheApp->CallAfter(std::forward<F>(f));
}

// File names on POSIX are bytes: text that is not UTF-8 is shown byte by byte.
wxString FromUtf8(std::string_view text) {
  wxString s = wxString::FromUTF8(text.data(), text.size());
  if (s.empty() && !text.empty()) s = wxString::From8BitData(text.data(), text.size());
  return s;
}

}  // namespace

void WxUiPort::showBox(const std::string& text, MessageKind kind) {
  // The box belongs to the main window; while a progress dialog is up it
  // sits over that dialog so it is not hidden behind it.
  wxWindow* owner = active_ != nullptr ? static_cast<wxWindow*>(active_) : &frame_;
  const long icon = kind == MessageKind::Report ? wxICON_NONE : wxICON_STOP;
  wxMessageDialog box(owner, FromUtf8(MessageBoxText(text)), "KELVOR", wxOK | icon);
  box.ShowModal();
}

void WxUiPort::showMessage(std::string_view text, MessageKind kind) {
  std::string copy(text);
  if (wxIsMainThread()) {
    showBox(copy, kind);
    return;
  }
  if (kind == MessageKind::Report) {
    // Nothing follows the report but the end of the worker: it need not
    // wait for the box.
    OnUiThread([this, report = std::move(copy)] {
      pendingReport_ = report;
      if (active_ == nullptr) showPendingReport();
    });
    return;
  }
  std::promise<void> closed;
  auto wait = closed.get_future();
  OnUiThread([this, &copy, &closed, kind] {
    if (active_ == nullptr) {
      showBox(copy, kind);
      closed.set_value();
      return;
    }
    // Not modal: the progress dialog's button must stay usable while the
    // worker waits on the box.
    const bool stopIcon = kind != MessageKind::Report;
    ShowWorkerMessageBox(active_, FromUtf8(MessageBoxText(copy)), stopIcon,
                         [&closed] { closed.set_value(); });
  });
  wait.wait();
}

void WxUiPort::showPendingReport() {
  if (pendingReport_.empty()) return;
  const std::string report = std::move(pendingReport_);
  pendingReport_.clear();
  showBox(report, MessageKind::Report);
}

void WxUiPort::clearTrackRows() {
  OnUiThread([this] { frame_.clearTrackRows(); });
}

void WxUiPort::addTrackRow(std::string_view text) {
  OnUiThread([this, row = std::string(text)] { frame_.addTrackRow(FromUtf8(row)); });
}

void WxUiPort::setConvertEnabled(bool enabled) {
  OnUiThread([this, enabled] { frame_.setConvertEnabled(enabled); });
}

void WxUiPort::setStatusText(std::string_view text) {
  OnUiThread([this, line = std::string(text)] {
    if (active_ != nullptr) active_->setStatusText(FromUtf8(line));
  });
}

void WxUiPort::setTimeText(std::string_view text) {
  OnUiThread([this, line = std::string(text)] {
    if (active_ != nullptr) active_->setTimeText(FromUtf8(line));
  });
}

void WxUiPort::setProgress(unsigned percent) {
  OnUiThread([this, percent] {
    if (active_ != nullptr) active_->setProgress(percent);
  });
}

void WxUiPort::setStopEnabled(bool enabled) {
  OnUiThread([this, enabled] {
    if (active_ != nullptr) active_->setStopEnabled(enabled);
  });
}

void WxUiPort::finished() {
  OnUiThread([this] {
    if (active_ != nullptr) active_->workerFinished();
  });
}

}  // namespace kelvor
