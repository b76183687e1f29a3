#pragma once
// The Read Me and About dialogs of the Help menu.
class wxWindow;

namespace kelvor {

void ShowReadMeDialog(wxWindow* parent);
void ShowAboutDialog(wxWindow* parent);

}  // namespace kelvor
