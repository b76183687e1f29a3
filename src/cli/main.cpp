// kelvor-cli: the command-line front end. The system's entry point
// (entry_posix.cpp, entry_win.cpp) prepares the process and calls RunCli.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "cli/convert_command.h"
#include "cli/decode_ac3_command.h"
#include "cli/encode_mp2_command.h"
#include "cli/entry_point.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/scan_command.h"
#include "cli/transcode_eac3_command.h"

namespace {

constexpr const char* kUsage =
    "Usage: kelvor-cli COMMAND [OPTIONS] ...\n"
    "\n"
    "Turns MPEG transport streams recorded from broadcast into program streams,\n"
    "TS or M2TS files that players, editors and authoring tools accept.\n"
    "\n"
    "Commands:\n"
    "  scan INPUT              list the video and audio tracks of a recording\n"
    "  convert INPUT OUTPUT    convert a recording to MPG, TS or M2TS\n"
    "  decode-ac3 INPUT OUTPUT.wav\n"
    "                          decode AC-3/E-AC-3 (a raw stream or the first\n"
    "                          private track of a TS) to 48 kHz stereo WAV\n"
    "  transcode-eac3 INPUT OUTPUT.ac3\n"
    "                          rewrite E-AC-3 (a raw stream or the first E-AC-3\n"
    "                          track of a TS) as AC-3\n"
    "  encode-mp2 [-b KBPS] INPUT.wav OUTPUT.mp2\n"
    "                          encode 32, 44.1 or 48 kHz mono or stereo WAV as\n"
    "                          MPEG-1 Layer II\n"
    "\n"
    "Options:\n"
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Run 'kelvor-cli COMMAND --help' for a command's options.\n"
    "Exit status: 0 success; 1 the input could not be read or holds nothing to\n"
    "convert; 2 bad command line, or a request refused before anything was\n"
    "written; 3 the output is valid but ends before the end of the input (a\n"
    "stop, an input error, a time-stamp jump); 4 the output could not be\n"
    "written. Each command's --help tells which of these it gives.\n";

}  // namespace

int kelvor::cli::RunCli(int argc, char** argv) {
  // Before any work: a stop that comes while the command starts is a stop
  // (exit 3), never the end of the process by the signal's default action.
  InstallInterruptHandler();
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::fputs("kelvor-cli " KELVOR_VERSION_TEXT "\n", stdout);
    return kExitOk;
  }
  // Memory or a thread the system refuses ends the command with a message
  // and an exit status, not with std::terminate's abort; every file the
  // command opened is closed on the way out.
  try {
    if (command == "scan") return RunScanCommand(argc - 1, argv + 1);
    if (command == "convert") return RunConvertCommand(argc - 1, argv + 1);
    if (command == "decode-ac3") return RunDecodeAc3Command(argc - 1, argv + 1);
    if (command == "transcode-eac3") return RunTranscodeEac3Command(argc - 1, argv + 1);
    if (command == "encode-mp2") return RunEncodeMp2Command(argc - 1, argv + 1);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kelvor-cli %s: not enough memory; the command was not completed\n", command.c_str());
    return kExitInputError;
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "kelvor-cli %s: the system refused a resource (%s); the command was not completed\n",
                 command.c_str(), e.what());
    return kExitInputError;
  }
  std::fprintf(stderr, "kelvor-cli: unknown command '%s'\n%s", command.c_str(), kUsage);
  return kExitUsage;
}
