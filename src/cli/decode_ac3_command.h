#pragma once

namespace kelvor::cli {

// kelvor-cli decode-ac3 [--stats] INPUT.ac3|INPUT.ts OUTPUT.wav
// argv[0] is "decode-ac3". Returns 0 on success, 1 on an input or output
// error, 2 on a bad command line.
int RunDecodeAc3Command(int argc, char** argv);

}  // namespace kelvor::cli
