#pragma once

namespace kelvor::cli {

// kelvor-cli transcode-eac3 [--stats] INPUT.eac3|INPUT.ts OUTPUT.ac3
// argv[0] is "transcode-eac3". Returns 0 on success, 1 on an input or
// output error, 2 on a bad command line.
int RunTranscodeEac3Command(int argc, char** argv);

}  // namespace kelvor::cli
