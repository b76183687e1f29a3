#pragma once
// Q24: signed 32-bit fixed point with 1.0 = 2^24, the number format of the
// audio codecs.
#include <cstdint>
#include <limits>

namespace kelvor {

using Q24 = std::int32_t;

inline constexpr Q24 kQ24One = 1 << 24;

// Rounded product: (a * b + 2^23) >> 24 with an arithmetic shift.
constexpr Q24 mul_q24(Q24 a, Q24 b) {
  return static_cast<Q24>((static_cast<std::int64_t>(a) * b + (std::int64_t{1} << 23)) >> 24);
}

constexpr std::int32_t saturate_i32(std::int64_t v) {
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

// Sum that saturates at the 32-bit limits instead of wrapping.
constexpr Q24 add_sat_q24(Q24 a, Q24 b) {
  return saturate_i32(static_cast<std::int64_t>(a) + b);
}

}  // namespace kelvor
