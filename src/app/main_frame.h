#pragma once
// The main window "TS stream converter": the menu, the audio-track list,
// the Start button and the "Convert AC3 to MPEG audio" check box. It owns
// the engine and the port through which the workers report.
#include <string>

#include <wx/frame.h>

#include "app/logic/output_choice.h"
#include "app/wx_ui_port.h"
#include "convert/engine.h"

class wxButton;
class wxCheckBox;
class wxListBox;
class wxMenuItem;
class wxPanel;

namespace kelvor {

class MainFrame final : public wxFrame {
 public:
  MainFrame();

  // The list box and the commands, driven by the scan (user interface
  // thread only).
  void clearTrackRows();
  void addTrackRow(const wxString& text);
  void setConvertEnabled(bool enabled);

  UiPort& port() { return port_; }

  // Command 103: the input file dialog, then the scan.
  void chooseInput();
  // The scan of a recording named without the dialog (UTF-8 path).
  void openInput(const std::string& path);

 private:
  void buildMenu();
  void buildControls();
  void chooseOutputAndConvert();
  void onSelectionChanged();

  WxUiPort port_;
  Engine engine_;
  OutputChoice output_;

  wxPanel* panel_ = nullptr;
  wxListBox* tracks_ = nullptr;
  wxButton* start_ = nullptr;
  wxCheckBox* convertAc3_ = nullptr;
  wxMenuItem* convertItem_ = nullptr;
  int openMenus_ = 0;  // menus and submenus open now
};

}  // namespace kelvor
