// The desktop program: reads the command line, creates the main window and
// opens the input file dialog at once.
#include <string>
#include <vector>

#include <wx/app.h>

#include "app/logic/command_line.h"
#include "app/main_frame.h"
#include "common/flags.h"
#include "common/show_message.h"

namespace kelvor {

class KelvorApp final : public wxApp {
 public:
  bool OnInit() override {
    SetAppName("kelvor");
    SetClassName("KELVOR");

    auto* frame = new MainFrame;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(argv[i].ToStdString());
    const CommandLineResult line = ParseCommandLine(JoinArguments(args));
    if (line.verbose) verbose.store(true);
    frame->Show();
    if (line.syntaxError) ShowMessage(frame->port(), StringId::CommandLineSyntaxError);
    frame->CallAfter(&MainFrame::chooseInput);
    return true;
  }
};

}  // namespace kelvor

wxIMPLEMENT_APP(kelvor::KelvorApp);
