#include "mpegenc/scale_factors.h"

namespace kelvor::mpegenc {

Q24 PeakOf(std::span<const Q24> samples) {
  std::uint32_t peak = 0;
  for (const Q24 s : samples) {
    const std::uint32_t a = s < 0 ? 0u - static_cast<std::uint32_t>(s) : static_cast<std::uint32_t>(s);
    peak = a > peak ? a : peak;
  }
  return peak > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<Q24>(peak);
}

}  // namespace kelvor::mpegenc
