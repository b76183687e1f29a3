#include "cli/audio_command_input.h"

#include <cstdio>

#include "cli/exit_status.h"
#include "cli/file_checks.h"

namespace kelvor::cli {

std::optional<int> OpenAudioCommandInput(int argc, char** argv, const char* usage, const WantedFrame& wanted,
                                         AudioCommandInput& in) {
  const char* command = argv[0];
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(usage, stdout);
      return kExitOk;
    }
    if (arg == "--stats") {
      in.stats = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "%s: unknown option '%s'\n%s", command, arg.c_str(), usage);
      return kExitUsage;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) {
    std::fputs(usage, stderr);
    return kExitUsage;
  }
  in.inputPath = paths[0];
  in.outputPath = paths[1];
  if (OutputIsInput(command, in.inputPath, in.outputPath)) return kExitUsage;
  if (const int error = in.file.open(in.inputPath); error != 0) {
    PrintFileError(command, in.inputPath, error);
    return kExitInputError;
  }
  in.stream = ElementaryStreamOf(in.file.bytes(), in.extracted, wanted);
  return std::nullopt;
}

}  // namespace kelvor::cli
