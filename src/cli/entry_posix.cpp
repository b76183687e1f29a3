#include <csignal>

#include "cli/entry_point.h"

int main(int argc, char** argv) {
  // A file-size limit makes write() fail with EFBIG instead of ending the
  // program, so the output is closed and the failure reported like any other.
  std::signal(SIGXFSZ, SIG_IGN);
  // Likewise a pipe whose reader has gone: write() fails with EPIPE and the
  // command reports a write error.
  std::signal(SIGPIPE, SIG_IGN);
  return kelvor::cli::RunCli(argc, argv);
}
