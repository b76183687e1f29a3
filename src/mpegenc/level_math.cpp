#include "mpegenc/level_math.h"

#include <cstddef>
#include <limits>

namespace kelvor::mpegenc {
namespace {

// Series for constant expressions: e^x for |x| <= 1 and ln(1 + y) for 0 <= y <= 1.
constexpr double ExpSmall(double x) {
  double term = 1.0;
  double sum = 1.0;
  for (int k = 1; k < 24; ++k) {
    term *= x / k;
    sum += term;
  }
  return sum;
}

constexpr double Log1p(double y) {  // 2 atanh(y / (2 + y))
  const double u = y / (2.0 + y);
  double power = u;
  double sum = 0.0;
  for (int k = 0; k < 40; ++k) {
    sum += power / (2 * k + 1);
    power *= u * u;
  }
  return 2.0 * sum;
}

constexpr double kLn2 = 0.69314718056994530942;

constexpr double Exp2Neg(double x) {  // 2^-x for x >= 0
  double v = 1.0;
  while (x >= 1.0) {
    v *= 0.5;
    x -= 1.0;
  }
  return v * ExpSmall(-x * kLn2);
}

// log2(1 + 2^-x) for x = i / 64 level units, up to 32 units (beyond: 0).
constexpr int kAddStepsPerUnit = 64;
constexpr int kAddEntries = 32 * kAddStepsPerUnit + 1;
static_assert(kAddEntries == 2049);
constexpr std::array<Q24, kAddEntries> kAddTable = [] {
  std::array<Q24, kAddEntries> t{};
  for (int i = 0; i < kAddEntries; ++i) {
    const double v = Log1p(Exp2Neg(static_cast<double>(i) / kAddStepsPerUnit)) / kLn2;
    t[static_cast<std::size_t>(i)] = static_cast<Q24>(v * 16777216.0 + 0.5);
  }
  t[kAddEntries - 1] = 0;
  return t;
}();

// 2^(i / 256) for i = 0..256 in Q30.
constexpr std::array<std::int64_t, 257> kExp2Values = [] {
  std::array<std::int64_t, 257> t{};
  for (int i = 0; i <= 256; ++i) {
    const double v = ExpSmall(static_cast<double>(i) / 256.0 * kLn2);
    t[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(v * 1073741824.0 + 0.5);
  }
  return t;
}();

}  // namespace

const std::array<Q24, 2049> kLevelAddTable = kAddTable;
const std::array<std::int64_t, 257> kExp2Table = kExp2Values;

}  // namespace kelvor::mpegenc
