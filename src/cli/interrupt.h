#pragma once

namespace kelvor::cli {

// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) set abortRequested, so that a scan lists what it
// found and a conversion flushes and closes its output. A second signal
// ends the process at once. On Windows the console's Ctrl-C, Ctrl-Break
// and close events do the same (interrupt_win.cpp). Installed once, before
// a command starts: a stop that comes early is seen by the command's first
// check, never cleared.
void InstallInterruptHandler();

}  // namespace kelvor::cli
