#pragma once
// The main window "TS stream converter", made from the dialog template
// "KELVOR" of the window class "KELVOR": the menu, the audio-track list, the
// Start button and the "Convert AC3 to MPEG audio" check box. It owns the
// engine, the port through which the workers report and the save dialog's
// memory.
#include "app_win32/win32.h"

#include <string>
#include <string_view>

#include "app/logic/output_choice.h"
#include "app_win32/win32_ui_port.h"
#include "convert/engine.h"

namespace kelvor {

class MainWindow {
 public:
  explicit MainWindow(HINSTANCE instance);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class and creates the window; false when it cannot.
  [[nodiscard]] bool create(int showState);
  HWND window() const { return window_; }
  UiPort& port() { return port_; }

  // Command 103: the input file dialog, then the scan.
  void chooseInput();
  // The scan of a recording named without the dialog (UTF-8 path).
  void openInput(const std::string& path);

  // Driven by the scan's updates (user interface thread).
  void clearTrackRows();
  void addTrackRow(std::string_view text);
  void setConvertEnabled(bool enabled);

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool onCommand(int id, int code, HWND control);
  void chooseOutputAndConvert();
  void onSelectionChanged();
  void onDroppedFiles(HDROP drop);

  HINSTANCE instance_;
  HWND window_ = nullptr;
  HWND tracks_ = nullptr;
  HWND start_ = nullptr;
  HWND convertAc3_ = nullptr;
  Win32UiPort port_;
  Engine engine_;
  OutputChoice output_;
};

}  // namespace kelvor
