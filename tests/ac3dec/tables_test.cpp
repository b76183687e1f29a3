// The standard's tables: known entries, structure and the formulas they
// were printed from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "ac3dec/eac3_tables.h"
#include "ac3dec/tables.h"
#include "ac3dec/transform_tables.h"

namespace kelvor {
namespace {

using namespace ac3;

TEST(Ac3Tables, BandingAndBinToBand) {
  int next = 0;
  int total = 0;
  for (int band = 0; band < kBands; ++band) {
    EXPECT_EQ(bndtab[static_cast<std::size_t>(band)], next) << band;  // contiguous bands
    next += bndsz[static_cast<std::size_t>(band)];
    total += bndsz[static_cast<std::size_t>(band)];
    for (int bin = bndtab[static_cast<std::size_t>(band)]; bin < next; ++bin) EXPECT_EQ(masktab[static_cast<std::size_t>(bin)], band);
  }
  EXPECT_EQ(total, 253);
  EXPECT_EQ(masktab[253], 0);  // bins past the last band, as printed
  EXPECT_EQ(masktab[255], 0);
}

TEST(Ac3Tables, LogAdditionFollowsItsCurve) {
  EXPECT_EQ(latab[0], 0x40);
  EXPECT_EQ(latab[1], 0x3f);
  EXPECT_EQ(latab[255], 0);
  for (std::size_t i = 1; i < latab.size(); ++i) {
    EXPECT_LE(latab[i], latab[i - 1]) << i;
    // The table is 64 log2(1 + 2^(-i/32)), rounded one way or the other.
    EXPECT_NEAR(latab[i], 64.0 * std::log2(1.0 + std::exp2(-static_cast<double>(i) / 32.0)), 1.0) << i;
  }
}

TEST(Ac3Tables, ThresholdPointersAndParameters) {
  EXPECT_EQ(hth48[0], 0x4d0);
  EXPECT_EQ(hth48[30], 0x2f0);
  EXPECT_EQ(hth48[49], 0x840);
  EXPECT_EQ(*std::min_element(hth48.begin(), hth48.end()), 0x2f0);

  std::array<int, 16> count{};
  for (std::size_t i = 0; i < baptab.size(); ++i) {
    if (i > 0) {
      EXPECT_GE(baptab[i], baptab[i - 1]);
    }
    ++count[baptab[i]];
  }
  EXPECT_EQ(count[0], 1);
  EXPECT_EQ(count[1], 5);
  EXPECT_EQ(count[14], 8);
  EXPECT_EQ(count[15], 9);

  for (std::size_t i = 0; i < eac3::hebaptab.size(); ++i) {
    if (i > 0) {
      EXPECT_GE(eac3::hebaptab[i], eac3::hebaptab[i - 1]);
    }
    if (i <= 8) {
      EXPECT_EQ(eac3::hebaptab[i], i);  // one VQ codebook per address up to 7
    }
  }
  EXPECT_EQ(eac3::hebaptab[63], 19);

  EXPECT_EQ(kFloor[7], -2048);
  EXPECT_EQ(kFastGain[4], 0x280);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(kFastGain[i], 128 * static_cast<int>(i + 1));
  EXPECT_EQ(kMantissaBits[15], 16);
  EXPECT_EQ(kMantissaBits[14], 14);
  EXPECT_EQ(kNfchans[7], 5);
  EXPECT_EQ(2 * kFrameSizeWords48[18], 2560);  // 640 kbit/s
}

TEST(Ac3Tables, SymmetricQuantiserLevels) {
  EXPECT_EQ(kLevels3[2], 11184810);  // 2/3 truncated
  EXPECT_EQ(kLevels3[1], 0);
  EXPECT_EQ(kLevels15[14], 15658734);  // 14/15
  const auto symmetric = [](const auto& levels) {
    for (std::size_t c = 0; c < levels.size(); ++c)
      if (levels[c] != -levels[levels.size() - 1 - c]) return false;
    return true;
  };
  EXPECT_TRUE(symmetric(kLevels3));
  EXPECT_TRUE(symmetric(kLevels5));
  EXPECT_TRUE(symmetric(kLevels7));
  EXPECT_TRUE(symmetric(kLevels11));
  EXPECT_TRUE(symmetric(kLevels15));
}

TEST(Eac3Tables, FrameExponentStrategiesFollowTheirRule) {
  // A row's new-exponent blocks 1..5 spell its number in binary, and each
  // run of n blocks sharing exponents is coded D45 (n = 1), D25 (n = 2, 3)
  // or D15 (n >= 4).
  for (int code = 0; code < 32; ++code) {
    const auto& row = eac3::kFrameExpStrategy[static_cast<std::size_t>(code)];
    int bits = 0;
    for (int blk = 1; blk < 6; ++blk) bits |= (row[static_cast<std::size_t>(blk)] != 0 ? 1 : 0) << (5 - blk);
    EXPECT_EQ(bits, code);
    for (int blk = 0; blk < 6; ++blk) {
      if (row[static_cast<std::size_t>(blk)] == 0) continue;
      int run = 1;
      while (blk + run < 6 && row[static_cast<std::size_t>(blk + run)] == 0) ++run;
      const int expected = run == 1 ? 3 : (run <= 3 ? 2 : 1);
      EXPECT_EQ(row[static_cast<std::size_t>(blk)], expected) << code << " " << blk;
    }
  }
}

TEST(Eac3Tables, DefaultBandStructures) {
  const auto merged = [](const auto& s) { return std::count(s.begin(), s.end(), 1); };
  EXPECT_EQ(merged(eac3::kDefaultCplBandStruct), 8);
  EXPECT_EQ(merged(eac3::kDefaultSpxBandStruct), 5);
  for (int sb = 0; sb < 8; ++sb) {
    EXPECT_EQ(eac3::kDefaultCplBandStruct[static_cast<std::size_t>(sb)], 0);
    EXPECT_EQ(eac3::kDefaultSpxBandStruct[static_cast<std::size_t>(sb)], 0);
  }
}

TEST(Eac3Tables, SpectralExtensionAttenuation) {
  EXPECT_EQ(eac3::kSpxAttenuation[0][0], 16019584);
  EXPECT_EQ(eac3::kSpxAttenuation[0][1], 15296165);
  EXPECT_EQ(eac3::kSpxAttenuation[0][2], 14605415);
  for (int code = 0; code < 32; ++code) {
    for (int tap = 0; tap < 3; ++tap) {
      const double expected = std::exp2(24.0 - (code + 1) * (tap + 1) / 15.0);
      EXPECT_NEAR(eac3::kSpxAttenuation[static_cast<std::size_t>(code)][static_cast<std::size_t>(tap)], expected, 0.5001);
    }
  }
}

TEST(Eac3Tables, GainAdaptiveRemappingMatchesItsQuantisers) {
  const double ulp = 512;  // one unit of the printed 16-bit constants, in Q24
  EXPECT_EQ(eac3::kGaqScale1[0], 19173888);
  EXPECT_EQ(eac3::kGaqScale1[11], 16777216);
  for (int h = 8; h < 20; ++h) {
    const int m = eac3::kHebapBits[static_cast<std::size_t>(h)];
    const double slope = 1.0 + 1.0 / ((1 << m) - 1);  // 2^m / (2^m - 1)
    EXPECT_NEAR(eac3::kGaqScale1[static_cast<std::size_t>(h - 8)], slope * 16777216.0, ulp) << h;
  }
  // After an escape the large mantissa covers what the gain left out:
  // gain 2 a dead zone of 1/2 with steps 1/(2^(m-1) - 1), gain 4 a dead zone
  // of 1/4 with steps 3/(2^(m+1) - 2).
  for (int h = 8; h <= 16; ++h) {
    const int m = eac3::kHebapBits[static_cast<std::size_t>(h)];
    for (int g = 1; g <= 2; ++g) {
      const double dead = g == 1 ? 0.5 : 0.25;
      const double step = g == 1 ? 1.0 / ((1 << (m - 1)) - 1) : 3.0 / ((1 << (m + 1)) - 2);
      const int half = g == 1 ? 1 << (m - 2) : 1 << (m - 1);
      const auto hi = static_cast<std::size_t>(h - 8);
      const auto gi = static_cast<std::size_t>(g - 1);
      EXPECT_NEAR(eac3::kGaqScale[hi][gi], half * step * 16777216.0, ulp) << h << " " << g;
      EXPECT_NEAR(eac3::kGaqOffsetNeg[hi][gi], (step - dead) * 16777216.0, ulp) << h << " " << g;
    }
  }
}

TEST(Eac3Tables, VectorCodebooks) {
  EXPECT_EQ(eac3::vq_value(1, 0, 0), 7167 * 512);
  EXPECT_EQ(eac3::vq_value(1, 3, 5), -3062 * 512);
  EXPECT_EQ(eac3::vq_value(7, 511, 2), 27336 * 512);
  EXPECT_EQ(eac3::vq_value(7, 433, 3), 15887 * 512);
  EXPECT_EQ(eac3::vq_value(7, 433, 5), 0);
  std::int64_t sum = 0;
  std::int64_t squares = 0;
  for (unsigned h = 1; h <= 7; ++h) {
    ASSERT_EQ(eac3::kVqSize[h], 1u << eac3::kHebapBits[h]);  // an index of b bits addresses 2^b vectors
    std::set<std::vector<Q24>> distinct;
    for (unsigned i = 0; i < eac3::kVqSize[h]; ++i) {
      std::vector<Q24> vector;
      for (unsigned blk = 0; blk < 6; ++blk) {
        const Q24 v = eac3::vq_value(h, i, blk);
        vector.push_back(v);
        sum += v / 512;
        squares += static_cast<std::int64_t>(v / 512) * (v / 512);
      }
      distinct.insert(vector);
    }
    EXPECT_EQ(distinct.size(), eac3::kVqSize[h]) << h;
  }
  // Transcription check over all 5,736 values.
  EXPECT_EQ(sum, 598901);
  EXPECT_EQ(squares, 887458289927);
}

TEST(TransformTables, WindowPrintedValuesAndPowerComplement) {
  EXPECT_EQ(kWindow[0], 4697);
  EXPECT_EQ(kWindow[1], 8053);
  EXPECT_EQ(kWindow[2], 12415);
  EXPECT_EQ(kWindow[3], 17112);
  EXPECT_EQ(kWindow[128], 23873978);
  for (std::size_t n = 0; n < 256; ++n) {
    if (n > 0) {
      EXPECT_GE(kWindow[n], kWindow[n - 1]);
    }
    // w[n]^2 + w[255 - n]^2 = 1 (the overlapping halves add up), to the
    // table's five decimals; kWindow holds 2 w.
    const double a = kWindow[n] / 33554432.0;
    const double b = kWindow[255 - n] / 33554432.0;
    EXPECT_NEAR(a * a + b * b, 1.0, 2.5e-5) << n;
  }
}

TEST(TransformTables, TwiddlesAndBitReversal) {
  const double pi = 3.14159265358979323846;
  for (std::size_t k = 0; k < 128; ++k) {
    const double kd = static_cast<double>(k);
    EXPECT_NEAR(kPrePost512.cos[k], -std::cos(2 * pi * (8.0 * kd + 1) / 4096) * 16777216.0, 0.5);
    EXPECT_NEAR(kPrePost512.sin[k], -std::sin(2 * pi * (8.0 * kd + 1) / 4096) * 16777216.0, 0.5);
    EXPECT_EQ(kBitReverse7[kBitReverse7[k]], k);
  }
  for (std::size_t k = 0; k < 64; ++k) {
    const double kd = static_cast<double>(k);
    EXPECT_NEAR(kPrePost256.cos[k], -std::cos(2 * pi * (8.0 * kd + 1) / 2048) * 16777216.0, 0.5);
    EXPECT_NEAR(kFftTwiddles.sin[k], std::sin(pi * kd / 64) * 16777216.0, 0.5);
  }
  EXPECT_EQ(kBitReverse7[1], 64);
  EXPECT_EQ(kBitReverse7[2], 32);
  EXPECT_EQ(kFftTwiddles.cos[0], 1 << 24);
  EXPECT_EQ(kFftTwiddles.sin[32], 1 << 24);
}

}  // namespace
}  // namespace kelvor
