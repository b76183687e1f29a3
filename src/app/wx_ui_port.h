#pragma once
// The desktop program's side of UiPort. The workers call it from their own
// thread; every call is carried over to the user interface thread in order
// (wxApp::CallAfter). showMessage blocks the calling worker until the user
// has closed the box, without ever blocking the user interface thread.
#include <string>
#include <string_view>

#include "common/ui_port.h"

class wxWindow;

namespace kelvor {

class MainFrame;
class ProgressDialog;

class WxUiPort final : public UiPort {
 public:
  explicit WxUiPort(MainFrame& frame) : frame_(frame) {}

  void showMessage(std::string_view text, MessageKind kind) override;
  void clearTrackRows() override;
  void addTrackRow(std::string_view text) override;
  void setConvertEnabled(bool enabled) override;
  void setStatusText(std::string_view text) override;
  void setTimeText(std::string_view text) override;
  void setProgress(unsigned percent) override;
  void setStopEnabled(bool enabled) override;
  void finished() override;

  // The progress dialog that is up (user interface thread only).
  void setActiveDialog(ProgressDialog* dialog) { active_ = dialog; }

  // The final report of a conversion waits until its progress dialog has
  // closed, so that the box does not open over the dialog: shown here, on
  // the main window (user interface thread only).
  void showPendingReport();

 private:
  void showBox(const std::string& text, MessageKind kind);  // user interface thread

  MainFrame& frame_;
  ProgressDialog* active_ = nullptr;
  std::string pendingReport_;
};

}  // namespace kelvor
