#include "io/guard_slots.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace kelvor::guard_detail {
namespace {

std::uintptr_t pageSize = 4096;
struct sigaction previous {};

extern "C" void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
  for (Slot& s : slots) {
    std::atomic<bool>* flag = s.flag.load();
    if (flag == nullptr || at < s.begin.load() || at >= s.end.load()) continue;
    void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
    if (::mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      flag->store(true);
      return;  // the read is repeated and finds zeros
    }
    break;
  }
  // Not ours: whatever was there before decides.
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
    previous.sa_handler(signal);
    return;
  }
  ::signal(SIGBUS, SIG_DFL);  // the faulting read runs again and ends the process
}

}  // namespace

void InstallFaultHandler() {
  pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous);
}

}  // namespace kelvor::guard_detail
