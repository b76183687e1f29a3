#include "app/logic/stop_gate.h"

#include "common/flags.h"

namespace kelvor {

void StopGate::stop(const std::function<void(bool)>& enableStop,
                    const std::function<bool()>& confirm) {
  if (abortRequested.load() || asking_) return;
  enableStop(false);
  asking_ = true;
  const bool yes = confirm();
  asking_ = false;
  // A run that ended while the question was open has nothing left to stop.
  if (yes && !closePending_) abortRequested.store(true);
  enableStop(true);
}

bool StopGate::finishedMayClose() {
  if (asking_) {
    closePending_ = true;
    return false;
  }
  return true;
}

bool StopGate::takePendingClose() {
  const bool pending = closePending_;
  closePending_ = false;
  return pending;
}

}  // namespace kelvor
