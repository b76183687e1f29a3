#pragma once

namespace kelvor::cli {

// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) set abortRequested, so that a scan lists what it
// found and a conversion flushes and closes its output. A second signal
// ends the process at once.
void InstallInterruptHandler();

}  // namespace kelvor::cli
