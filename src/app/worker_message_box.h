#pragma once
// The message box a worker's message is shown in while a progress dialog is
// up. The worker waits until it is closed, but unlike a modal box it leaves
// the progress dialog's Abort or Stop button usable meanwhile.
#include <functional>

#include <wx/string.h>

class wxWindow;

namespace kelvor {

// Shows the box over `owner` and returns at once. `closed` runs on the user
// interface thread once the user has closed the box (OK, Return, Escape or
// the close box).
void ShowWorkerMessageBox(wxWindow* owner, const wxString& text, bool stopIcon,
                          std::function<void()> closed);

}  // namespace kelvor
