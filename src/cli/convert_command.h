#pragma once
#include "cli/exit_status.h"

namespace kelvor::cli {

// kelvor-cli convert [--format mpg|ts|m2ts|dvd] [--audio all|PID] [--to-mpeg-audio]
//                    [-v] [-q] INPUT OUTPUT
int RunConvertCommand(int argc, char** argv);

}  // namespace kelvor::cli
