#include "cli/file_checks.h"

#include <cstdio>

#include "io/file_identity.h"

namespace kelvor::cli {

bool OutputIsInput(const char* command, const std::string& input, const std::string& output) {
  const auto in = IdentityOfPath(input);
  const auto out = IdentityOfPath(output);
  if (!in || !out || *in != *out) return false;
  std::fprintf(stderr, "kelvor-cli %s: the output '%s' is the input file '%s'; nothing was written\n",
               command, output.c_str(), input.c_str());
  return true;
}

void PrintFileError(const char* command, const std::string& path, int error) {
  std::fprintf(stderr, "kelvor-cli %s: '%s': %s\n", command, path.c_str(), ReasonText(error).c_str());
}

}  // namespace kelvor::cli
