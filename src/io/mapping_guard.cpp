#include "io/mapping_guard.h"

#include <mutex>

#include "io/guard_slots.h"

namespace kelvor {

namespace guard_detail {
std::array<Slot, 8> slots;
}  // namespace guard_detail

using guard_detail::slots;

bool MappingGuard::guard(const void* begin, std::size_t size) {
  static std::once_flag installed;
  release();
  std::call_once(installed, guard_detail::InstallFaultHandler);
  for (std::size_t k = 0; k < slots.size(); ++k) {
    guard_detail::Slot& s = slots[k];
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
  guard_detail::Slot& s = slots[static_cast<std::size_t>(slot_)];
  s.flag.store(nullptr);
  s.begin.store(0);
  s.end.store(0);
  s.taken.store(false);
  slot_ = -1;
}

}  // namespace kelvor
