#include "cli/interrupt.h"

#include <csignal>
#include <unistd.h>

#include "common/flags.h"

namespace kelvor::cli {
namespace {

extern "C" void OnInterrupt(int signal) {
  if (abortRequested.exchange(true)) {
    ::_exit(128 + signal);
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A closed terminal is a stop too: the output written so far is kept.
  ::sigaction(SIGHUP, &action, nullptr);
}

}  // namespace kelvor::cli
