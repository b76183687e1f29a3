#pragma once
// Sine and cosine usable in constant expressions, for building the transform
// tables at compile time. Accurate to a few units in the last place of a
// double, far below the Q24 rounding step.
#include <cstdint>
#include <numbers>

namespace kelvor::cmath {

constexpr double sin_series(double x) {  // |x| <= pi/4
  double term = x;
  double sum = x;
  const double x2 = x * x;
  for (int k = 1; k < 14; ++k) {
    term *= -x2 / ((2.0 * k) * (2.0 * k + 1.0));
    sum += term;
  }
  return sum;
}

constexpr double cos_series(double x) {  // |x| <= pi/4
  double term = 1.0;
  double sum = 1.0;
  const double x2 = x * x;
  for (int k = 1; k < 14; ++k) {
    term *= -x2 / ((2.0 * k - 1.0) * (2.0 * k));
    sum += term;
  }
  return sum;
}

// sin and cos of 2*pi*num/den, reduced exactly in integers to an octant.
struct SinCos {
  double s;
  double c;
};

constexpr SinCos sincos_turns(std::int64_t num, std::int64_t den) {
  num %= den;
  if (num < 0) num += den;
  // The nearest quadrant q and the offset from it, within [-pi/4, pi/4].
  const std::int64_t octant = num * 8 / den;
  const std::int64_t rem = num * 8 % den;
  const std::int64_t quadrant = (octant + 1) / 2;
  const double offset = (static_cast<double>(rem) / static_cast<double>(den) + static_cast<double>(octant - 2 * quadrant)) *
                        (std::numbers::pi / 4.0);
  const double s = sin_series(offset);
  const double c = cos_series(offset);
  switch (quadrant % 4) {
    case 0: return {s, c};
    case 1: return {c, -s};
    case 2: return {-s, -c};
    default: return {-c, s};
  }
}

// round(v * 2^24) for the Q24 tables.
constexpr std::int32_t to_q24(double v) {
  const double scaled = v * 16777216.0;
  return static_cast<std::int32_t>(scaled >= 0 ? scaled + 0.5 : scaled - 0.5);
}

}  // namespace kelvor::cmath
