#pragma once
// Inside the mapping guard: the guarded address ranges, which the system's
// fault handler (mapping_guard_posix.cpp, mapping_guard_win.cpp) reads
// without locks.
#include <array>
#include <atomic>
#include <cstdint>

namespace kelvor::guard_detail {

// One slot per mapping being read at a time (the scan or conversion window,
// a command's input).
struct Slot {
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};
  std::atomic<std::atomic<bool>*> flag{nullptr};
  std::atomic<bool> taken{false};
};
extern std::array<Slot, 8> slots;

// Installs the system's handler; called once, before the first range is guarded.
void InstallFaultHandler();

}  // namespace kelvor::guard_detail
