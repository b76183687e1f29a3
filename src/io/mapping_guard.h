#pragma once
// Reading a mapped file that another program cuts short (a recording still
// being written, a download stopped) raises SIGBUS on the pages beyond the
// new end. A guarded mapping survives that: the handler puts a page of zeros
// where the fault was and raises the mapping's flag, and the reader, which
// checks the flag at its next step, ends with an input error instead of the
// process dying. Faults outside guarded mappings end the process as before.
#include <atomic>
#include <cstddef>

namespace kelvor {

class MappingGuard {
 public:
  MappingGuard() = default;
  ~MappingGuard() { release(); }
  MappingGuard(const MappingGuard&) = delete;
  MappingGuard& operator=(const MappingGuard&) = delete;

  // Guards [begin, begin + size) until release(); false when every slot is
  // taken (the mapping is then read unguarded).
  bool guard(const void* begin, std::size_t size);
  void release();

  // A read of the guarded mapping faulted since the flag was last cleared.
  bool faulted() const { return faulted_.load(std::memory_order_relaxed); }
  void clearFault() { faulted_.store(false, std::memory_order_relaxed); }

 private:
  int slot_ = -1;
  std::atomic<bool> faulted_{false};
};

}  // namespace kelvor
