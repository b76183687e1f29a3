#pragma once
// The conversion dialog's Stop button and its close request, kept apart
// from the window so the order of events can be tested.
#include <functional>

namespace kelvor {

class StopGate {
 public:
  // Stop pressed. Only while no abort is pending: disables the button,
  // asks `confirm` (the "Stop convertion?" question), sets abortRequested
  // on Yes, and enables the button again.
  void stop(const std::function<void(bool)>& enableStop, const std::function<bool()>& confirm);

  // The worker has finished. False while the question is still open: the
  // dialog must not close under it, and closes once it is answered.
  bool finishedMayClose();

  // After the question: true once if the worker finished meanwhile.
  bool takePendingClose();

  bool asking() const { return asking_; }

 private:
  bool asking_ = false;
  bool closePending_ = false;
};

}  // namespace kelvor
