#pragma once

namespace kelvor::cli {

// Exit statuses of kelvor-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInputError = 1;  // the input could not be read or converted
inline constexpr int kExitUsage = 2;       // bad command line
inline constexpr int kExitCutShort = 3;    // the output is valid but ends before the input does
inline constexpr int kExitOutputError = 4; // the output could not be written

}  // namespace kelvor::cli
