#pragma once

namespace kelvor::cli {

// Ctrl-C (and SIGTERM) set abortRequested, so that a scan lists what it
// found and a conversion flushes and closes its output. A second Ctrl-C
// ends the process at once.
void InstallInterruptHandler();

}  // namespace kelvor::cli
