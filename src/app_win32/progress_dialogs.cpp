#include "app_win32/progress_dialogs.h"

#include <commctrl.h>

#include <thread>
#include <utility>

#include "app/control_ids.h"
#include "app/logic/stop_gate.h"
#include "app_win32/win32_ui_port.h"
#include "app_win32/window_text.h"
#include "common/flags.h"
#include "common/string_table.h"

namespace kelvor {
namespace {

// One run of a progress dialog: the worker and the Stop button's state.
struct ProgressRun {
  Win32UiPort& port;
  std::function<void()> work;
  HWND owner;
  std::thread worker;
  StopGate gate;
};

// The progress bar is no part of the template: it is placed at (30, 28),
// 100 x 10 dialog units, in this dialog's own units.
void CreateProgressBar(HWND dialog) {
  RECT r{30, 28, 30 + 100, 28 + 10};
  ::MapDialogRect(dialog, &r);
  ::CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH, r.left, r.top,
                    r.right - r.left, r.bottom - r.top, dialog,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(ids::kProgressBar)),
                    reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(dialog, GWLP_HINSTANCE)), nullptr);
}

void Stop(HWND dialog, ProgressRun& run) {
  HWND button = ::GetDlgItem(dialog, ids::kStop);
  run.gate.stop([button](bool enabled) { ::EnableWindow(button, enabled); },
                [&run] {
                  const std::wstring question = Wide(LoadString(StringId::StopConversionQuestion));
                  return ::MessageBoxW(run.owner, question.c_str(), L"KELVOR",
                                       MB_YESNO | MB_DEFBUTTON2 | MB_ICONSTOP) == IDYES;
                });
  if (run.gate.takePendingClose()) ::EndDialog(dialog, 0);
}

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* run = reinterpret_cast<ProgressRun*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      run = reinterpret_cast<ProgressRun*>(lParam);
      ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      if (::GetDlgItem(dialog, ids::kStop) != nullptr) CreateProgressBar(dialog);
      run->port.setDialog(dialog);
      abortRequested.store(false);
      run->worker = std::thread(run->work);
      return TRUE;
    }
    case kUpdatesPending:
      run->port.applyUpdates();
      return TRUE;
    case WM_APP:
      if (run->gate.finishedMayClose()) ::EndDialog(dialog, 0);
      return TRUE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case ids::kAbort: abortRequested.store(true); return TRUE;
        case ids::kStop: Stop(dialog, *run); return TRUE;
        default: return TRUE;  // Escape and Enter do not close it
      }
    case WM_CLOSE:
      return TRUE;
    default:
      return FALSE;
  }
}

void RunDialog(HINSTANCE instance, const wchar_t* name, HWND owner, Win32UiPort& port,
               std::function<void()> work) {
  ProgressRun run{port, std::move(work), owner, {}, {}};
  ::DialogBoxParamW(instance, name, owner, ProgressProc, reinterpret_cast<LPARAM>(&run));
  if (run.worker.joinable()) run.worker.join();
  // Updates posted after the dialog closed would find no window to go to.
  port.setDialog(nullptr);
  port.applyUpdates();
}

}  // namespace

void RunScanDialog(HINSTANCE instance, HWND owner, Win32UiPort& port, std::function<void()> work) {
  RunDialog(instance, L"SCAN", owner, port, std::move(work));
}

void RunConversionDialog(HINSTANCE instance, HWND owner, Win32UiPort& port, std::function<void()> work) {
  RunDialog(instance, L"CONVERT", owner, port, std::move(work));
}

}  // namespace kelvor
