#pragma once
// Cosine and sine of whole fractions of a turn in constant expressions, for
// the encoder's matrixing and FFT tables. Errors stay a few units in the last
// place of a double, far below the Q24 step.
#include <cstdint>
#include <numbers>

namespace kelvor::mpegenc {

struct CosSin {
  double c;
  double s;
};

// cos and sin of 2*pi*num/den; the angle is reduced exactly in integers.
constexpr CosSin CosSinOfTurns(std::int64_t num, std::int64_t den) {
  num %= den;
  if (num < 0) num += den;
  // Nearest quarter turn q and the rest r, |r| <= 1/8 turn.
  const std::int64_t q = (num * 4 + den / 2) / den;
  const double r = (static_cast<double>(num * 4 - q * den) / static_cast<double>(den)) * (std::numbers::pi / 2.0);
  double c = 1.0;
  double s = r;
  double tc = 1.0;
  double ts = r;
  for (int k = 1; k < 14; ++k) {
    tc *= -r * r / ((2.0 * k - 1.0) * (2.0 * k));
    ts *= -r * r / ((2.0 * k) * (2.0 * k + 1.0));
    c += tc;
    s += ts;
  }
  switch (q % 4) {
    case 0: return {c, s};
    case 1: return {-s, c};
    case 2: return {-c, -s};
    default: return {s, -c};
  }
}

}  // namespace kelvor::mpegenc
