#include "io/mapping_guard.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <mutex>

namespace kelvor {
namespace {

// One slot per mapping being read at a time (the scan or conversion window,
// a command's input); the handler reads them without locks.
struct Slot {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<std::atomic<bool>*> flag{nullptr};
  std::atomic<bool> taken{false};
};
std::array<Slot, 8> slots;
std::uintptr_t pageSize = 4096;
struct sigaction previous {};
std::once_flag installed;

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

void Install() {
  pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGBUS, &action, &previous);
}

}  // namespace

bool MappingGuard::guard(const void* begin, std::size_t size) {
  release();
  std::call_once(installed, Install);
  for (std::size_t k = 0; k < slots.size(); ++k) {
    Slot& s = slots[k];
    if (s.taken.exchange(true)) continue;
    const auto b = reinterpret_cast<std::uintptr_t>(begin);
    s.begin.store(b);
    s.end.store(b + size);
    s.flag.store(&faulted_);
    slot_ = static_cast<int>(k);
    return true;
  }
  return false;
}

void MappingGuard::release() {
  if (slot_ < 0) return;
  Slot& s = slots[static_cast<std::size_t>(slot_)];
  s.flag.store(nullptr);
  s.begin.store(0);
  s.end.store(0);
  s.taken.store(false);
  slot_ = -1;
}

}  // namespace kelvor
