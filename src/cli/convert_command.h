#pragma once

namespace kelvor::cli {

// Exit statuses of kelvor-cli convert, beyond those of exit_status.h.
inline constexpr int kExitCutShort = 3;     // the output is valid but ends before the input does
inline constexpr int kExitOutputError = 4;  // the output could not be written

// kelvor-cli convert [--format mpg|ts|m2ts|dvd] [--audio all|PID] [--to-mpeg-audio]
//                    [-v] [-q] INPUT OUTPUT
int RunConvertCommand(int argc, char** argv);

}  // namespace kelvor::cli
