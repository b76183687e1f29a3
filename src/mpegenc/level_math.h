#pragma once
// Arithmetic on levels: Q24 base-2 logarithms of a power (1.0 = a power ratio
// of 2, about 3.01 dB), so that power sums become additions of levels.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

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
  // The quotient, truncated, by a double division: both operands are exact
  // (below 2^53) and a correctly rounded quotient below 2^24 truncates to the
  // true one, since a non-integer quotient stays at least 1/(d + 1) from the
  // next integer.
  const auto frac = static_cast<std::int64_t>(static_cast<double>(3 * (d - kQ24One) * kQ24One) /
                                              static_cast<double>(d + kQ24One));
  const std::int64_t level = static_cast<std::int64_t>(e - scaleBits) * kQ24One + frac;
  return level < kLevelFloor ? kLevelFloor : static_cast<Q24>(level);
}

// Level of re^2 + im^2 (both Q24).
constexpr Q24 levelOfComplex(Q24 re, Q24 im) {
  const auto r = static_cast<std::int64_t>(re);
  const auto i = static_cast<std::int64_t>(im);
  return LevelOfUnsigned(static_cast<std::uint64_t>(r * r) + static_cast<std::uint64_t>(i * i), 48);
}

// 2^(i / 256) for i = 0..256 in Q30.
extern const std::array<std::int64_t, 257> kExp2Table;

// 2^level as a Q24 linear power factor (0 far below 1, saturated far above).
// Inline: the model asks for it on every line of every noise band.
inline Q24 levelToLinear(Q24 level) {
  const int whole = level >> 24;  // floor
  const auto frac = static_cast<std::uint32_t>(level) & 0xFFFFFFu;
  const auto index = static_cast<std::size_t>(frac >> 16);
  const std::int64_t a = kExp2Table[index];
  const std::int64_t b = kExp2Table[index + 1];
  const std::int64_t mantissa = a + (((b - a) * static_cast<std::int64_t>(frac & 0xFFFFu)) >> 16);  // Q30, [1, 2)
  const int shift = 6 - whole;  // Q30 to Q24, times 2^whole
  if (shift >= 63) return 0;
  if (shift <= 0) return shift < -1 ? std::numeric_limits<Q24>::max() : saturate_i32(mantissa << -shift);
  return static_cast<Q24>((mantissa + (std::int64_t{1} << (shift - 1))) >> shift);
}

// log2(1 + 2^-x) for x = i / 64 level units, i = 0..2048 (0 at the end).
extern const std::array<Q24, 2049> kLevelAddTable;

// log2(1 + 2^-x) for a level difference x >= 0, interpolated; 0 from 32 units on.
inline Q24 LevelAddCorrection(std::int64_t x) {
  constexpr int kShift = 24 - 6;  // Q24 units to table steps
  if (x >= std::int64_t{32} << 24) return 0;
  const auto index = static_cast<std::size_t>(x >> kShift);
  const auto frac = static_cast<std::int64_t>(x & ((1 << kShift) - 1));
  const std::int64_t a = kLevelAddTable[index];
  const std::int64_t b = kLevelAddTable[index + 1];
  return static_cast<Q24>(a + (((b - a) * frac) >> kShift));
}

// Level of the sum of two powers.
inline Q24 levelAdd(Q24 a, Q24 b) {
  const Q24 hi = a > b ? a : b;
  const Q24 lo = a > b ? b : a;
  if (lo <= kLevelFloor) return hi;
  return add_sat_q24(hi, LevelAddCorrection(static_cast<std::int64_t>(hi) - lo));
}

// c log2(2^(a/c) + 2^(b/c)): powers added with exponent 1/c.
inline Q24 levelAddScaled(Q24 a, Q24 b, int c) {
  const Q24 hi = a > b ? a : b;
  const Q24 lo = a > b ? b : a;
  if (lo <= kLevelFloor) return hi;
  const std::int64_t x = (static_cast<std::int64_t>(hi) - lo) / c;
  return saturate_i32(hi + static_cast<std::int64_t>(c) * LevelAddCorrection(x));
}

}  // namespace kelvor::mpegenc
