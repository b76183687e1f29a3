// encode-mp2 on Windows: the WAV reader it uses (libsndfile) is not built
// for MinGW here, so the command says so instead of half working.
#include <cstdio>

#include "cli/encode_mp2_command.h"
#include "cli/exit_status.h"

namespace kelvor::cli {

int RunEncodeMp2Command(int, char**) {
  std::fputs("kelvor-cli encode-mp2: not available in this Windows build (no WAV reader)\n", stderr);
  return kExitUsage;
}

}  // namespace kelvor::cli
