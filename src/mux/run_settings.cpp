#include "mux/run_settings.h"

#include <algorithm>

namespace kelvor {

const AudioOutput* RunSettings::outputForTrack(std::uint32_t track) const {
  for (std::uint32_t n = 0; n < outputCount; ++n) {
    if (outputs[n].track == track) return &outputs[n];
  }
  return nullptr;
}

const AudioOutput* RunSettings::outputForSlot(std::uint32_t slot) const {
  for (std::uint32_t n = 0; n < outputCount; ++n) {
    if (outputs[n].slot == slot) return &outputs[n];
  }
  return nullptr;
}

}  // namespace kelvor
