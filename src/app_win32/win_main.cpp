// The Windows desktop program: reads the command line, creates the main
// window and opens the recording named on the command line, or the input
// file dialog; then runs the message loop.
#include "app_win32/win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/control_ids.h"
#include "app/logic/command_line.h"
#include "app_win32/main_window.h"
#include "app_win32/window_text.h"
#include "common/flags.h"
#include "common/show_message.h"
#include "io/file_names.h"

namespace {

std::vector<std::string> Arguments(const wchar_t* commandLine) {
  std::vector<std::string> args;
  // An empty line would give the program's own name.
  if (commandLine == nullptr || *commandLine == L'\0') return args;
  int count = 0;
  wchar_t** argv = ::CommandLineToArgvW(commandLine, &count);
  if (argv == nullptr) return args;
  for (int i = 0; i < count; ++i) args.push_back(kelvor::Utf8(argv[i]));
  ::LocalFree(argv);
  return args;
}

bool IsExistingFile(const std::string& utf8) {
  std::error_code error;
  return std::filesystem::is_regular_file(kelvor::PathOfUtf8(utf8), error);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int showState) {
  using namespace kelvor;
  // No system boxes for a drive without a medium or a file that cannot be
  // opened: the program reports those itself.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  const StartArguments start = SplitStartArguments(Arguments(commandLine), IsExistingFile);
  const CommandLineResult line = ParseCommandLine(JoinArguments(start.switches));
  if (line.verbose) verbose.store(true);

  // The engine's buffers are large: made once, for the life of the process.
  auto main = std::make_unique<MainWindow>(instance);
  if (!main->create(showState)) return 1;
  if (line.syntaxError) ShowMessage(main->port(), StringId::CommandLineSyntaxError);
  if (start.inputPath.empty()) {
    main->chooseInput();
  } else {
    main->openInput(start.inputPath);
  }

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (!::IsDialogMessageW(main->window(), &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return static_cast<int>(message.wParam);
}
