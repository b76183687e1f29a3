// The fast filterbank against its definition, and where it puts a tone.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "mpegenc/filterbank.h"

namespace kelvor::mpegenc {
namespace {

// A frame's input: kFilterHistory + 1152 time-ordered samples.
std::vector<Q24> Input(const std::function<Q24(int)>& sample) {
  std::vector<Q24> pcm(kFilterHistory + kFrameSamples);
  for (std::size_t n = 0; n < pcm.size(); ++n) pcm[n] = sample(static_cast<int>(n));
  return pcm;
}

TEST(MpegFilterbank, FastMatrixingEqualsTheDirectSum) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<Q24> full(-(1 << 24), 1 << 24);
  std::uniform_int_distribution<Q24> any(std::numeric_limits<Q24>::min(), std::numeric_limits<Q24>::max());
  const std::vector<std::vector<Q24>> inputs = {
      Input([&](int) { return full(rng); }),                              // noise at full scale
      Input([&](int) { return any(rng); }),                               // anything a Q24 can hold
      Input([](int n) { return n % 2 ? (1 << 24) - 1 : -(1 << 24); }),   // full-scale Nyquist
      Input([](int n) { return static_cast<Q24>(std::lround(8e6 * std::sin(n * 0.37))); }),
  };
  for (const auto& pcm : inputs) {
    SubbandFrame fast;
    AnalyseFrame(pcm, fast, SimdLevel::kPlain);
    for (const SimdLevel level : {SimdLevel::kAvx2, SimdLevel::kAvx512}) {  // as far as the processor has them
      SubbandFrame vector;
      AnalyseFrame(pcm, vector, level);
      EXPECT_EQ(vector, fast);  // vector and plain code agree exactly
    }
    for (int t = 0; t < kSlots; ++t) {
      std::array<Q24, 512> x;  // X[i]: i samples back from the newest of slot t
      for (int i = 0; i < 512; ++i) x[static_cast<std::size_t>(i)] = pcm[static_cast<std::size_t>(32 * t + 511 - i)];
      std::array<Q24, kSubbands> direct;
      AnalyseSlotDirect(x, direct);
      for (std::size_t sb = 0; sb < kSubbands; ++sb) {
        // The direct sum rounds each of its 64 products; the fast one rounds once.
        EXPECT_LE(std::abs(static_cast<std::int64_t>(fast[static_cast<std::size_t>(t)][sb]) - direct[sb]), 32)
            << "slot " << t << " subband " << sb;
      }
    }
  }
}

TEST(MpegFilterbank, ToneLandsInItsSubband) {
  for (const int sb : {0, 5, 17, 26, 31}) {
    const double f = (sb + 0.5) * 750.0;  // the subband's centre at 48 kHz
    const auto pcm = Input([&](int n) { return static_cast<Q24>(std::lround(0.5 * 16777216.0 * std::sin(2 * M_PI * f * n / 48000.0))); });
    SubbandFrame s;
    AnalyseFrame(pcm, s);
    std::array<double, kSubbands> energy{};
    for (int t = 18; t < kSlots; ++t) {  // past the filter's start-up
      for (std::size_t b = 0; b < kSubbands; ++b) energy[b] += std::pow(s[static_cast<std::size_t>(t)][b] / 16777216.0, 2);
    }
    double total = 0;
    for (const double e : energy) total += e;
    EXPECT_GT(energy[static_cast<std::size_t>(sb)] / total, 0.99) << sb;
    // Amplitude near the input's: the filterbank has unit gain.
    EXPECT_NEAR(std::sqrt(2 * energy[static_cast<std::size_t>(sb)] / (kSlots - 18)), 0.5, 0.05) << sb;
  }
}

}  // namespace
}  // namespace kelvor::mpegenc
