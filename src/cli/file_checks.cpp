#include "cli/file_checks.h"

#include <cstdio>


namespace kelvor::cli {

bool OutputIsInput(const char* command, const std::string& input, const std::string& output) {
  return OutputIsFile(command, IdentityOfPath(input), input, output);
}

bool OutputIsFile(const char* command, const std::optional<FileIdentity>& input, const std::string& inputName,
                  const std::string& output) {
  const auto out = IdentityOfPath(output);
  if (!input || !out || *input != *out) return false;
  std::fprintf(stderr, "kelvor-cli %s: the output '%s' is the input file '%s'; nothing was written\n",
               command, output.c_str(), inputName.c_str());
  return true;
}

void PrintFileError(const char* command, const std::string& path, int error) {
  std::fprintf(stderr, "kelvor-cli %s: '%s': %s\n", command, path.c_str(), ReasonText(error).c_str());
}

}  // namespace kelvor::cli
