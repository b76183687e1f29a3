#pragma once
// The modal dialogs a worker runs under: the scan dialog (Abort) and the
// conversion dialog (status line, time line, progress bar, Stop). Each
// starts its worker once it is up and closes when the worker reports that
// it has finished; the user cannot close it any other way.
#include <functional>
#include <thread>

#include <wx/dialog.h>

#include "app/logic/stop_gate.h"

class wxButton;
class wxGauge;
class wxGUIEventLoop;
class wxStaticText;

namespace kelvor {

class WxUiPort;

class ProgressDialog : public wxDialog {
 public:
  // Shows the dialog, runs `work` on a worker thread while it is up, and
  // returns once the worker has finished and the dialog has closed.
  void run(std::function<void()> work);

  // Called on the user interface thread when the worker has finished.
  void workerFinished();

  // Updates from the conversion worker; the scan dialog has no such lines.
  virtual void setStatusText(const wxString&) {}
  virtual void setTimeText(const wxString&) {}
  virtual void setProgress(unsigned) {}
  virtual void setStopEnabled(bool) {}

 protected:
  ProgressDialog(wxWindow* parent, WxUiPort& port, int widthDlu, int heightDlu);
  ~ProgressDialog() override;

  StopGate gate_;

  // Ends run()'s event loop; the dialog then closes.
  void close();

 private:
  void startWorker();

  WxUiPort& port_;
  std::function<void()> work_;
  std::thread worker_;
  wxGUIEventLoop* loop_ = nullptr;  // while run() is in its loop
};

class ScanDialog final : public ProgressDialog {
 public:
  ScanDialog(wxWindow* parent, WxUiPort& port);
};

class ConversionDialog final : public ProgressDialog {
 public:
  ConversionDialog(wxWindow* parent, WxUiPort& port);

  void setStatusText(const wxString& text) override;
  void setTimeText(const wxString& text) override;
  void setProgress(unsigned percent) override;
  void setStopEnabled(bool enabled) override;

 private:
  void onStop();

  wxStaticText* status_;
  wxStaticText* time_;
  wxGauge* progress_;
  wxButton* stop_;
};

}  // namespace kelvor
