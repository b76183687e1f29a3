#pragma once
// Scale factors of subband parts and the transmission patterns that let a
// subband send one, two or three of them.
#include <array>
#include <cstdint>
#include <span>

#include "common/q24.h"

namespace kelvor::mpegenc {

// Index of the smallest scale factor still greater than `peak` (>= 0): 62 for
// silence, 0 for anything at or above 2.0, which the quantiser then clips.
int ScaleFactorIndex(Q24 peak);

// The largest |sample| of a part.
Q24 PeakOf(std::span<const Q24> samples);

struct ScaleChoice {
  std::array<std::uint8_t, 3> used;  // indices the three parts are quantised with
  std::uint8_t scfsi;
};

// The transmission pattern of a subband with part indices s0, s1, s2.
ScaleChoice ChooseTransmission(int s0, int s1, int s2);

// Which of `used` a subband sends for its scfsi, in part order.
struct SentScaleFactors {
  std::array<std::uint8_t, 3> index;
  int count;
};
SentScaleFactors SentOf(const ScaleChoice& choice);

}  // namespace kelvor::mpegenc
