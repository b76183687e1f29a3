#include "app/worker_message_box.h"

#include <utility>

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

namespace kelvor {
namespace {

class WorkerMessageBox final : public wxDialog {
 public:
  WorkerMessageBox(wxWindow* owner, const wxString& text, bool stopIcon, std::function<void()> closed)
      : wxDialog(owner, wxID_ANY, "KELVOR", wxDefaultPosition, wxDefaultSize, wxCAPTION | wxCLOSE_BOX),
        closed_(std::move(closed)) {
    auto* message = new wxBoxSizer(wxHORIZONTAL);
    if (stopIcon) {
      const wxBitmap icon = wxArtProvider::GetBitmap(wxART_ERROR, wxART_MESSAGE_BOX);
      if (icon.IsOk()) message->Add(new wxStaticBitmap(this, wxID_ANY, icon), 0, wxRIGHT, 12);
    }
    message->Add(new wxStaticText(this, wxID_ANY, text), 1, wxALIGN_CENTRE_VERTICAL);
    auto* ok = new wxButton(this, wxID_OK, "OK");
    auto* layout = new wxBoxSizer(wxVERTICAL);
    layout->Add(message, 1, wxEXPAND | wxALL, 16);
    layout->Add(ok, 0, wxALIGN_CENTRE_HORIZONTAL | wxLEFT | wxRIGHT | wxBOTTOM, 12);
    SetSizerAndFit(layout);
    ok->SetDefault();
    ok->SetFocus();
    SetEscapeId(wxID_OK);
    Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Close(); }, wxID_OK);
    Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { finish(); });
  }

 private:
  void finish() {
    if (done_) return;
    done_ = true;
    Destroy();
    closed_();
  }

  std::function<void()> closed_;
  bool done_ = false;
};

}  // namespace

void ShowWorkerMessageBox(wxWindow* owner, const wxString& text, bool stopIcon,
                          std::function<void()> closed) {
  auto* box = new WorkerMessageBox(owner, text, stopIcon, std::move(closed));
  box->CentreOnParent();
  box->Show();
}

}  // namespace kelvor
