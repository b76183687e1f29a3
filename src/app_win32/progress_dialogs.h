#pragma once
// The modal dialogs a worker runs under: "SCAN" (Abort) and "CONVERT"
// (status line, time line, progress bar, Stop). Each starts its worker when
// it is initialised and closes when the worker posts WM_APP; the user
// cannot close it any other way.
#include "app_win32/win32.h"

#include <functional>

namespace kelvor {

class Win32UiPort;

// Runs the scan dialog with `work` on a worker thread; returns once the
// worker has finished and the dialog has closed.
void RunScanDialog(HINSTANCE instance, HWND owner, Win32UiPort& port, std::function<void()> work);

// The same for the conversion dialog.
void RunConversionDialog(HINSTANCE instance, HWND owner, Win32UiPort& port, std::function<void()> work);

}  // namespace kelvor
