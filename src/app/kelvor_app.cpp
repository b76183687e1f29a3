// The desktop program: reads the command line, creates the main window and
// opens the recording named on the command line, or the input file dialog.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <wx/app.h>

#include "app/logic/command_line.h"
#include "app/main_frame.h"
#include "common/flags.h"
#include "common/show_message.h"

namespace kelvor {
namespace {

constexpr const char* kUsage =
    "Usage: kelvor [/V] [FILE]\n"
    "\n"
    "The desktop program of KELVOR: turns MPEG transport streams recorded from\n"
    "broadcast (TS or M2TS) into program streams (MPG), TS or M2TS files.\n"
    "Without FILE the input file dialog opens at start; with FILE (a .ts, .m2ts\n"
    "or .mts recording) that recording is scanned at once and its audio tracks\n"
    "are listed.\n"
    "\n"
    "Options:\n"
    "  /V, /v        show stream warnings as they are met\n"
    "  -h, --help    show this help and exit\n"
    "  --version     show the version and exit\n"
    "\n"
    "Any other argument shows \"Command line syntax error\" and the program\n"
    "starts normally.\n";

bool IsExistingFile(const std::string& utf8) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(std::u8string(utf8.begin(), utf8.end())),
                                          error);
}

}  // namespace

class KelvorApp final : public wxApp {
 public:
  bool OnInit() override {
    SetAppName("kelvor");
    SetClassName("KELVOR");

    auto* frame = new MainFrame;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i].utf8_str().data());
    const StartArguments start = SplitStartArguments(args, IsExistingFile);
    const CommandLineResult line = ParseCommandLine(JoinArguments(start.switches));
    if (line.verbose) verbose.store(true);
    frame->Show();
    if (line.syntaxError) ShowMessage(frame->port(), StringId::CommandLineSyntaxError);
    if (start.inputPath.empty()) {
      frame->CallAfter(&MainFrame::chooseInput);
    } else {
      frame->CallAfter([frame, path = start.inputPath] { frame->openInput(path); });
    }
    return true;
  }
};

// Help and version are answered before the toolkit starts, so that they work
// without a display (the manual page is made from them at build time).
int AnswerInfoRequest(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs("kelvor " KELVOR_VERSION_TEXT "\n", stdout);
      return 0;
    }
  }
  return -1;
}

}  // namespace kelvor

#ifdef __WXMSW__
wxIMPLEMENT_APP(kelvor::KelvorApp);
#else
wxIMPLEMENT_APP_NO_MAIN(kelvor::KelvorApp);

int main(int argc, char** argv) {
  const int answered = kelvor::AnswerInfoRequest(argc, argv);
  if (answered >= 0) return answered;
  return wxEntry(argc, argv);
}
#endif
