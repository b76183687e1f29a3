#pragma once

namespace kelvor::cli {

// kelvor-cli scan [--json] [-v] INPUT
int RunScanCommand(int argc, char** argv);

}  // namespace kelvor::cli
