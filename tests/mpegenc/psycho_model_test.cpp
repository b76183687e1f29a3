// Level arithmetic and the psychoacoustic model.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <random>

#include "mpegenc/level_math.h"
#include "mpegenc/psycho_model.h"

namespace kelvor::mpegenc {
namespace {

constexpr Q24 kUnit = 1 << 24;  // a power ratio of 2

TEST(MpegLevels, ArithmeticOnLogPowers) {
  EXPECT_EQ(levelOfComplex(0, 0), kLevelFloor);
  EXPECT_EQ(levelOfComplex(1 << 24, 0), 0);               // power 1.0
  EXPECT_EQ(levelOfComplex(1 << 23, 1 << 23), -kUnit);    // 0.25 + 0.25
  EXPECT_NEAR(levelOfComplex(3 << 22, 0), std::log2(0.5625) * kUnit, 0.02 * kUnit);  // the approximation's error
  EXPECT_EQ(levelToLinear(0), 1 << 24);
  EXPECT_EQ(levelToLinear(-3 * kUnit), 1 << 21);
  EXPECT_EQ(levelToLinear(kLevelFloor), 0);
  EXPECT_NEAR(levelAdd(5 * kUnit, 5 * kUnit), 6 * kUnit, 4);                 // equal powers: twice
  EXPECT_EQ(levelAdd(5 * kUnit, kLevelFloor), 5 * kUnit);
  EXPECT_NEAR(levelAddScaled(-4 * kUnit, -4 * kUnit, 2), -2 * kUnit, 8);    // amplitudes add
  EXPECT_NEAR(levelAddScaled(-4 * kUnit, -4 * kUnit, 3), -1 * kUnit, 12);
  EXPECT_EQ(levelAddScaled(kLevelFloor, 7, 2), 7);
}

std::array<Q24, kFftSize> Sine(double amplitude, double line) {
  std::array<Q24, kFftSize> x{};
  for (int n = 0; n < kFftSize; ++n) {
    x[static_cast<std::size_t>(n)] = static_cast<Q24>(std::lround(amplitude * 16777216.0 * std::cos(2 * M_PI * line * n / kFftSize)));
  }
  return x;
}

TEST(MpegPsychoModel, SilenceHasNoMaskers) {
  PsychoModel model;
  const std::array<Q24, kFftSize> silence{};
  std::array<std::uint8_t, kCodedSubbands> scale;
  scale.fill(62);
  std::array<Q24, kCodedSubbands> smr;
  model.Compute(silence, scale, smr);
  for (const Q24 level : model.spectrum()) EXPECT_EQ(level, kLevelFloor);
  EXPECT_TRUE(model.tonalMaskerLines().empty());
  for (const Q24 s : smr) EXPECT_LT(s, 0);  // nothing to mask: only the scale-factor floor, below the threshold in quiet
}

TEST(MpegPsychoModel, FullScaleSineIsOneTonalMasker) {
  PsychoModel model;
  const int line = 100;
  const auto x = Sine(0.999, line);
  std::array<std::uint8_t, kCodedSubbands> scale;
  scale.fill(62);
  std::array<Q24, kCodedSubbands> smr;
  model.Compute(x, scale, smr);
  ASSERT_EQ(model.tonalMaskerLines().size(), 1u);
  EXPECT_EQ(model.tonalMaskerLines()[0], line);
  // The tone's subband needs far more than the others.
  const std::size_t sb = line / 16;
  for (std::size_t n = 0; n < kCodedSubbands; ++n) {
    if (n != sb) {
      EXPECT_GT(smr[sb], smr[n]) << n;
    }
  }
  EXPECT_GT(smr[sb], 20 * kUnit / 3);  // above 20 dB
}

}  // namespace
}  // namespace kelvor::mpegenc

namespace kelvor::mpegenc {
namespace {

// The vector code (where the processor has it) gives exactly the plain code's numbers.
TEST(MpegPsychoModel, VectorPathMatchesPlainPath) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0.0, 1.0);
  for (const double tone : {0.0, 0.3, 0.9}) {
    for (const double hiss : {0.0, 1e-4, 0.05, 0.4}) {
      std::array<Q24, kFftSize> x{};
      for (int n = 0; n < kFftSize; ++n) {
        const double v = tone * std::sin(n * 0.31) + 0.5 * tone * std::sin(n * 1.7) + hiss * noise(rng);
        x[static_cast<std::size_t>(n)] = static_cast<Q24>(std::lround(std::clamp(v, -1.9, 1.9) * 16777216.0));
      }
      std::array<std::uint8_t, kCodedSubbands> scale;
      for (std::size_t n = 0; n < scale.size(); ++n) scale[n] = static_cast<std::uint8_t>(n * 2);
      PsychoModel plain(SimdLevel::kPlain);
      std::array<Q24, kCodedSubbands> expected;
      plain.Compute(x, scale, expected);
      for (const SimdLevel level : {SimdLevel::kAvx2, SimdLevel::kAvx512}) {  // as far as the processor has them
        PsychoModel vector(level);
        std::array<Q24, kCodedSubbands> smr;
        vector.Compute(x, scale, smr);
        EXPECT_TRUE(std::equal(vector.spectrum().begin(), vector.spectrum().end(), plain.spectrum().begin()));
        EXPECT_EQ(smr, expected) << tone << " " << hiss;
      }
    }
  }
}

}  // namespace
}  // namespace kelvor::mpegenc
