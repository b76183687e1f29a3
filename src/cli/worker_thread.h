#pragma once
// The command line runs a pass on a worker thread, as the desktop program
// does, and waits for it. When the system grants no thread (a low process or
// memory limit), the pass runs on the calling thread instead; what the pass
// throws (a failed allocation) reaches the caller either way, so that the
// command ends with a message, not with std::terminate.
#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace kelvor::cli {

template <class Body>
void RunOnWorker(Body&& body) {
  std::exception_ptr thrown;
  const auto guarded = [&] {
    try {
      body();
    } catch (...) {
      thrown = std::current_exception();
    }
  };
  try {
    std::thread worker(guarded);
    worker.join();
  } catch (const std::system_error&) {
    guarded();
  }
  if (thrown) std::rethrow_exception(thrown);
}

}  // namespace kelvor::cli
