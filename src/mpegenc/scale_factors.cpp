#include "mpegenc/scale_factors.h"

#include <cstddef>
#include <cstdlib>

#include "mpegenc/tables.h"

namespace kelvor::mpegenc {
namespace {

int DifferenceClass(int d) {
  if (d <= -3) return 0;
  if (d < 0) return 1;
  if (d == 0) return 2;
  if (d < 3) return 3;
  return 4;
}

}  // namespace

int ScaleFactorIndex(Q24 peak) {
  if (kScaleFactor[0] <= peak) return 0;
  // The table falls with the index (and ends in 0): find the last entry
  // above the peak, halving the step without branches.
  int last = 0;
  for (int step = 32; step > 0; step /= 2) {
    const int probe = last + step;
    last = kScaleFactor[static_cast<std::size_t>(probe)] > peak ? probe : last;
  }
  return last;
}

Q24 PeakOf(std::span<const Q24> samples) {
  std::uint32_t peak = 0;
  for (const Q24 s : samples) {
    const std::uint32_t a = s < 0 ? 0u - static_cast<std::uint32_t>(s) : static_cast<std::uint32_t>(s);
    peak = a > peak ? a : peak;
  }
  return peak > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<Q24>(peak);
}

ScaleChoice ChooseTransmission(int s0, int s1, int s2) {
  const TransmissionPattern& p = kPatternOfClasses[static_cast<std::size_t>(DifferenceClass(s0 - s1))]
                                                  [static_cast<std::size_t>(DifferenceClass(s1 - s2))];
  const std::array<int, 4> source = {s0, s1, s2, s0 < s2 ? s0 : s2};
  ScaleChoice c{};
  for (std::size_t part = 0; part < 3; ++part) c.used[part] = static_cast<std::uint8_t>(source[p.source[part]]);
  c.scfsi = p.scfsi;
  return c;
}

SentScaleFactors SentOf(const ScaleChoice& choice) {
  switch (choice.scfsi) {
    case 0: return {{choice.used[0], choice.used[1], choice.used[2]}, 3};
    case 1: return {{choice.used[0], choice.used[2], 0}, 2};
    case 2: return {{choice.used[0], 0, 0}, 1};
    default: return {{choice.used[0], choice.used[1], 0}, 2};
  }
}

}  // namespace kelvor::mpegenc
