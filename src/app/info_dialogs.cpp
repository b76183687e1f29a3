#include "app/info_dialogs.h"

#include <wx/bitmap.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/icon.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/control_ids.h"
#include "app/dialog_units.h"
#include "app/pictures.h"
#include "app/resources/readme_text.h"

namespace kelvor {

void ShowReadMeDialog(wxWindow* parent) {
  wxDialog dialog(parent, wxID_ANY, "KELVOR Read Me", wxDefaultPosition, wxDefaultSize,
                  wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  dialog.SetIcon(KelvorIcon());
  dialog.SetClientSize(DluSize(&dialog, 200, 200));

  // The control takes "\n" line ends on every platform.
  wxString text = wxString::From8BitData(kReadMeText.data(), kReadMeText.size());
  text.Replace("\r\n", "\n");
  auto* edit = new wxTextCtrl(&dialog, ids::kReadMeText, text, DluPoint(&dialog, 8, 8),
                              DluSize(&dialog, 184, 160),
                              wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL | wxBORDER_SUNKEN);
  // Focus would select the whole text; the guide should read as plain text.
  edit->Bind(wxEVT_SET_FOCUS, [edit](wxFocusEvent& event) {
    event.Skip();
    edit->CallAfter([edit] { edit->SetSelection(0, 0); });
  });
  auto* ret = new wxButton(&dialog, ids::kReturn, "Return", DluPoint(&dialog, 84, 179),
                           DluSize(&dialog, 32, 14));
  ret->SetDefault();
  dialog.SetAffirmativeId(ids::kReturn);
  dialog.SetEscapeId(ids::kReturn);
  ret->SetFocus();
  dialog.CentreOnParent();
  dialog.ShowModal();
}

void ShowAboutDialog(wxWindow* parent) {
  wxDialog dialog(parent, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxCAPTION);
  dialog.SetClientSize(DluSize(&dialog, 160, 115));

  const wxBitmap logo = KelvorLogo();
  // The logo's top left corner sits at (38, 8); it is centred when its
  // width differs from the one it was drawn for.
  const wxPoint corner = DluPoint(&dialog, 38, 8);
  const int width = dialog.GetClientSize().GetWidth();
  new wxStaticBitmap(&dialog, wxID_ANY, logo, wxPoint((width - logo.GetWidth()) / 2, corner.y));

  const char* const lines[] = {
      "TS stream converter D2A0",
      "KELVOR version " KELVOR_VERSION_TEXT,
      "MPG, TS and M2TS from broadcast",
      "recordings, in step after drops",
  };
  int y = 48;
  for (const char* line : lines) {
    new wxStaticText(&dialog, wxID_ANY, line, DluPoint(&dialog, 0, y), DluSize(&dialog, 160, 8),
                     wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
    y += 12;
  }
  auto* ok = new wxButton(&dialog, ids::kAboutOk, "OK", DluPoint(&dialog, 64, 98), DluSize(&dialog, 32, 14));
  ok->SetDefault();
  ok->SetFocus();
  dialog.SetAffirmativeId(ids::kAboutOk);
  dialog.SetEscapeId(ids::kAboutOk);
  dialog.CentreOnParent();
  dialog.ShowModal();
}

}  // namespace kelvor
