#pragma once
// Scale factors of subband parts and the transmission patterns that let a
// subband send one, two or three of them.
#include <array>
#include <bit>
#include <cstdint>

#include "common/q24.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {

// Index of the smallest scale factor still greater than `peak` (>= 0): 62 for
// silence, 0 for anything at or above 2.0, which the quantiser then clips.
// Inline: the encoder asks for it 162 times a frame.
inline int ScaleFactorIndex(Q24 peak) {
  if (kScaleFactor[0] <= peak) return 0;
  if (peak < 16) return 62;  // every entry but the closing 0 is above it (entry 62 is 20)
  // Every third entry is a power of two, entry 3k = 2^(25 - k): a peak in
  // [2^e, 2^(e + 1)) is below entry 3(24 - e) and not below 3(25 - e), so
  // the answer is that entry or one of the two after it.
  const int e = std::bit_width(static_cast<std::uint32_t>(peak)) - 1;
  const auto base = static_cast<std::size_t>(3 * (24 - e));
  return static_cast<int>(base) + (kScaleFactor[base + 1] > peak ? 1 : 0) + (kScaleFactor[base + 2] > peak ? 1 : 0);
}

struct ScaleChoice {
  std::array<std::uint8_t, 3> used;  // indices the three parts are quantised with
  std::uint8_t scfsi;
};

namespace detail {
inline int DifferenceClass(int d) {
  if (d <= -3) return 0;
  if (d < 0) return 1;
  if (d == 0) return 2;
  if (d < 3) return 3;
  return 4;
}
}  // namespace detail

// The transmission pattern of a subband with part indices s0, s1, s2.
inline ScaleChoice ChooseTransmission(int s0, int s1, int s2) {
  const TransmissionPattern& p = kPatternOfClasses[static_cast<std::size_t>(detail::DifferenceClass(s0 - s1))]
                                                  [static_cast<std::size_t>(detail::DifferenceClass(s1 - s2))];
  const std::array<int, 4> source = {s0, s1, s2, s0 < s2 ? s0 : s2};
  ScaleChoice c{};
  for (std::size_t part = 0; part < 3; ++part) c.used[part] = static_cast<std::uint8_t>(source[p.source[part]]);
  c.scfsi = p.scfsi;
  return c;
}

// Which of `used` a subband sends for its scfsi, in part order.
struct SentScaleFactors {
  std::array<std::uint8_t, 3> index;
  int count;
};
inline SentScaleFactors SentOf(const ScaleChoice& choice) {
  switch (choice.scfsi) {
    case 0: return {{choice.used[0], choice.used[1], choice.used[2]}, 3};
    case 1: return {{choice.used[0], choice.used[2], 0}, 2};
    case 2: return {{choice.used[0], 0, 0}, 1};
    default: return {{choice.used[0], choice.used[1], 0}, 2};
  }
}

}  // namespace kelvor::mpegenc
