#include "app/progress_dialogs.h"

#include <algorithm>
#include <utility>

#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/wx_ui_port.h"
#include "common/flags.h"
#include "common/string_table.h"

namespace kelvor {
namespace {

// A centred line across the whole dialog width; it stays centred when the
// worker changes its text.
wxStaticText* CentredLine(wxWindow* parent, int id, const wxString& text, int y, int widthDlu) {
  return new wxStaticText(parent, id, text, DluPoint(parent, 0, y), DluSize(parent, widthDlu, 8),
                          wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
}

// Where the focus goes in `owner` when none of its controls had it: its first
// child that is neither a window of its own nor the menu bar, which hands
// it on to its own first control.
wxWindow* FocusTargetOf(wxWindow* owner) {
  if (owner == nullptr) return nullptr;
  for (wxWindow* child : owner->GetChildren()) {
    if (!child->IsTopLevel() && !child->IsKindOf(wxCLASSINFO(wxMenuBar)) && child->IsShown()) return child;
  }
  return owner;
}

}  // namespace

ProgressDialog::ProgressDialog(wxWindow* parent, WxUiPort& port, int widthDlu, int heightDlu)
    : wxDialog(parent, wxID_ANY, "KELVOR", wxDefaultPosition, wxDefaultSize, wxCAPTION),
      port_(port) {
  SetClientSize(DluSize(this, widthDlu, heightDlu));
  // Escape and the window's close box do nothing while the worker runs.
  SetEscapeId(wxID_NONE);
  Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& event) {
    if (event.CanVeto()) event.Veto();
  });
}

ProgressDialog::~ProgressDialog() {
  if (worker_.joinable()) worker_.join();
}

void ProgressDialog::run(std::function<void()> work) {
  work_ = std::move(work);
  port_.setActiveDialog(this);
  CentreOnParent();
  wxWindow* const focus = wxWindow::FindFocus();
  {
    // Modal by hand: the other windows are disabled while this dialog runs
    // its own event loop. A toolkit-modal dialog would lose all input to the
    // worker's message boxes, and Abort or Stop would be dead while one is up.
    wxWindowDisabler others(this);
    Show();
    wxGUIEventLoop loop;
    loop_ = &loop;
    // Started from inside the loop, so the worker's close request can only
    // arrive while the loop runs.
    CallAfter(&ProgressDialog::startWorker);
    loop.Run();
    loop_ = nullptr;
    Hide();
  }
  // Disabling took the keyboard focus from the main window; give it back, or
  // its keys (Escape quits) would go nowhere.
  const bool focusWasInParent = focus != nullptr && wxGetTopLevelParent(focus) == GetParent();
  wxWindow* const target = focusWasInParent ? focus : FocusTargetOf(GetParent());
  if (target != nullptr) target->SetFocus();
  if (worker_.joinable()) worker_.join();
  port_.setActiveDialog(nullptr);
  port_.showPendingReport();
}

void ProgressDialog::close() {
  if (loop_ != nullptr) loop_->ScheduleExit();
}

void ProgressDialog::startWorker() {
  abortRequested.store(false);
  worker_ = std::thread(work_);
}

void ProgressDialog::workerFinished() {
  if (gate_.finishedMayClose()) close();
}

ScanDialog::ScanDialog(wxWindow* parent, WxUiPort& port) : ProgressDialog(parent, port, 140, 50) {
  CentredLine(this, wxID_ANY, "Scanning TS stream...", 8, 140);
  auto* abort = new wxButton(this, ids::kAbort, "Abort", DluPoint(this, 54, 25), DluSize(this, 32, 14));
  abort->Bind(wxEVT_BUTTON, [](wxCommandEvent&) { abortRequested.store(true); });
}

ConversionDialog::ConversionDialog(wxWindow* parent, WxUiPort& port)
    : ProgressDialog(parent, port, 160, 90) {
  status_ = CentredLine(this, ids::kStatusText, "Converting TS stream...", 8, 160);
  time_ = CentredLine(this, ids::kTimeText, "00:00:00", 48, 160);
  progress_ = new wxGauge(this, ids::kProgressBar, 100, DluPoint(this, 30, 28), DluSize(this, 100, 10),
                          wxGA_HORIZONTAL | wxGA_SMOOTH | wxBORDER_SIMPLE);
  stop_ = new wxButton(this, ids::kStop, "Stop", DluPoint(this, 64, 65), DluSize(this, 32, 14));
  stop_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { onStop(); });
}

void ConversionDialog::onStop() {
  gate_.stop([this](bool enabled) { stop_->Enable(enabled); },
             [this] {
               const std::string_view question = LoadString(StringId::StopConversionQuestion);
               wxMessageDialog ask(this, wxString(question.data(), question.size()), "KELVOR",
                                   wxYES_NO | wxNO_DEFAULT | wxICON_STOP);
               return ask.ShowModal() == wxID_YES;
             });
  if (gate_.takePendingClose()) close();
}

void ConversionDialog::setStatusText(const wxString& text) { status_->SetLabelText(text); }
void ConversionDialog::setTimeText(const wxString& text) { time_->SetLabelText(text); }
void ConversionDialog::setProgress(unsigned percent) {
  progress_->SetValue(static_cast<int>(std::min(percent, 100u)));
}
void ConversionDialog::setStopEnabled(bool enabled) { stop_->Enable(enabled); }

}  // namespace kelvor
