#include <windows.h>

#include "cli/interrupt.h"
#include "common/flags.h"

namespace kelvor::cli {
namespace {

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (abortRequested.exchange(true)) {
    ::ExitProcess(128 + 2);  // as a second Ctrl-C ends the program elsewhere
  }
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The process ends as soon as this returns: wait instead, so that the
    // output written so far is closed (the system allows a few seconds).
    ::Sleep(INFINITE);
  }
  return TRUE;
}

}  // namespace

void InstallInterruptHandler() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace kelvor::cli
