#pragma once
// Arithmetic on levels: Q24 base-2 logarithms of a power (1.0 = a power ratio
// of 2, about 3.01 dB), so that power sums become additions of levels.
#include <array>
#include <bit>
#include <cstdint>

#include "common/q24.h"

namespace kelvor::mpegenc {

// Stands for minus infinity (about -200 dB); every level is at least this.
inline constexpr Q24 kLevelFloor = static_cast<Q24>(0xBD8FBA69u);

// log2(p / 2^scaleBits) for an unsigned p > 0, with 3 (d - 1) / (d + 1) as the
// fractional log2 of the mantissa d in [1, 2).
constexpr Q24 LevelOfUnsigned(std::uint64_t p, int scaleBits) {
  if (p == 0) return kLevelFloor;
  const int e = static_cast<int>(std::bit_width(p)) - 1;
  const std::int64_t d = e >= 24 ? static_cast<std::int64_t>(p >> (e - 24)) : static_cast<std::int64_t>(p << (24 - e));
  const std::int64_t frac = (3 * (d - kQ24One) * kQ24One) / (d + kQ24One);
  const std::int64_t level = static_cast<std::int64_t>(e - scaleBits) * kQ24One + frac;
  return level < kLevelFloor ? kLevelFloor : static_cast<Q24>(level);
}

// Level of re^2 + im^2 (both Q24).
constexpr Q24 levelOfComplex(Q24 re, Q24 im) {
  const auto r = static_cast<std::int64_t>(re);
  const auto i = static_cast<std::int64_t>(im);
  return LevelOfUnsigned(static_cast<std::uint64_t>(r * r) + static_cast<std::uint64_t>(i * i), 48);
}

// 2^level as a Q24 linear power factor (0 far below 1, saturated far above).
Q24 levelToLinear(Q24 level);

// Level of the sum of two powers.
Q24 levelAdd(Q24 a, Q24 b);

// c log2(2^(a/c) + 2^(b/c)): powers added with exponent 1/c.
Q24 levelAddScaled(Q24 a, Q24 b, int c);

}  // namespace kelvor::mpegenc
