// The AC-3 writer's own rules: exponent strategies over the six blocks,
// codable exponents, the frame budget, and the quantisers' edge values.
#include "transcode/ac3_reencoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "ac3dec/tables.h"
#include "transcode/ac3_frame_writer.h"
#include "transcode/exponent_coding.h"
#include "transcode/mantissa_coding.h"

namespace kelvor::transcode {
namespace {

// A stereo stream of six blocks whose left coefficients come from
// `level(blk, bin)` (a Q24 magnitude) with random signs.
std::unique_ptr<TranscoderStream> StereoBlocks(auto&& level) {
  auto s = std::make_unique<TranscoderStream>();
  std::mt19937 rng(7);
  for (int blk = 0; blk < 6; ++blk) {
    BlockSlot& slot = s->slot[static_cast<std::size_t>(blk)];
    slot.acmod = 2;
    slot.sdcycod = 2;
    slot.fdcycod = 1;
    slot.sgaincod = 1;
    slot.dbpbcod = 2;
    slot.floorcod = 7;
    slot.fgaincod = {4, 4, 4, 4, 4};
    slot.chbwcod = {60, 60, 0, 0, 0};
    // The right channel stays silent, so that no band goes out rematrixed.
    for (int bin = 0; bin < 253; ++bin) {
      const Q24 v = level(blk, bin);
      s->coef[static_cast<std::size_t>(blk)][0][static_cast<std::size_t>(bin)] = (rng() & 1) ? v : -v;
    }
  }
  return s;
}

TEST(Reencoder, ExponentStrategiesFollowHowMuchBlocksDiffer) {
  struct Case {
    const char* name;
    int (*exponent)(int blk, int bin);
    std::array<Strategy, 6> expected;
  };
  const Case cases[] = {
      {"stationary", [](int, int bin) { return 3 + bin / 40; }, {kD15, kReuse, kReuse, kReuse, kReuse, kReuse}},
      {"every block new", [](int blk, int bin) { return (blk % 2 == 0) ? 2 + bin % 3 : 12 + bin % 5; },
       {kD45, kD45, kD45, kD45, kD45, kD45}},
      {"change in block 3", [](int blk, int bin) { return blk < 3 ? 4 : 9 + bin % 2; },
       {kD25, kReuse, kReuse, kD25, kReuse, kReuse}},
  };
  for (const Case& c : cases) {
    auto s = StereoBlocks([&](int blk, int bin) { return Q24{1 << (23 - c.exponent(blk, bin))}; });
    auto re = std::make_unique<Ac3Reencoder>();
    re->analyse(*s, 2, false);
    for (int blk = 0; blk < 6; ++blk) {
      EXPECT_EQ(int{re->strategy(blk, 0)}, int{c.expected[static_cast<std::size_t>(blk)]}) << c.name << " block " << blk;
    }
    // A reused set is the same set, smallest exponent of the run per bin.
    for (int blk = 1; blk < 6; ++blk) {
      if (re->strategy(blk, 0) == kReuse) {
        EXPECT_EQ(re->exponents(blk, 0), re->exponents(blk - 1, 0)) << c.name;
      }
    }
  }
}

// Narrow sharing starts a run where a block differs moderately from the one
// before; wide sharing keeps one run there, and says that narrow would not.
TEST(Reencoder, NarrowSharingStartsRunsAtSmallerChanges) {
  struct Case {
    const char* name;
    int (*exponent)(int blk, int bin);
    bool differs;
    std::array<Strategy, 6> narrow;
  };
  const Case cases[] = {
      {"stationary", [](int, int bin) { return 3 + bin / 40; }, false, {kD15, kReuse, kReuse, kReuse, kReuse, kReuse}},
      {"moderate change in block 3", [](int blk, int bin) { return 6 + (blk >= 3 && bin < 200 ? 2 : 0); }, true,
       {kD25, kReuse, kReuse, kD25, kReuse, kReuse}},
      {"large change in block 2", [](int blk, int bin) { return blk < 2 ? 4 : 14 + bin % 2; }, false,
       {kD25, kReuse, kD15, kReuse, kReuse, kReuse}},
  };
  for (const Case& c : cases) {
    auto s = StereoBlocks([&](int blk, int bin) { return Q24{1 << (23 - c.exponent(blk, bin))}; });
    auto re = std::make_unique<Ac3Reencoder>();
    re->analyse(*s, 2, false, ExponentSharing::kWide);
    EXPECT_EQ(re->narrow_differs(), c.differs) << c.name;
    std::array<Strategy, 6> wide{};
    for (int blk = 0; blk < 6; ++blk) wide[static_cast<std::size_t>(blk)] = re->strategy(blk, 0);
    re->analyse(*s, 2, false, ExponentSharing::kNarrow);
    for (int blk = 0; blk < 6; ++blk) {
      EXPECT_EQ(int{re->strategy(blk, 0)}, int{c.narrow[static_cast<std::size_t>(blk)]}) << c.name << " block " << blk;
      if (!c.differs) {
        EXPECT_EQ(int{re->strategy(blk, 0)}, int{wide[static_cast<std::size_t>(blk)]}) << c.name;
      }
    }
    // A narrow run's blocks take their own exponents, not the louder ones before.
    if (c.differs) {
      EXPECT_EQ(re->exponents(4, 0)[100], 8) << c.name;
    }
  }
}

TEST(Reencoder, ExponentOfACoefficient) {
  struct Case {
    Q24 v;
    std::int32_t exp;
  };
  for (const Case c : {Case{0, 24}, Case{1, 23}, Case{-3, 22}, Case{(1 << 23) - 1, 1}, Case{1 << 23, 0},
                       Case{(1 << 24) + 5, 0}, Case{INT32_MIN, 0}, Case{-(1 << 12), 11}}) {
    EXPECT_EQ(exponent_of(c.v), c.exp) << c.v;
  }
}

TEST(Reencoder, ProcessedExponentsAreCodable) {
  for (const Strategy st : {kD15, kD25, kD45}) {
    Exponents e{};
    for (std::size_t bin = 0; bin < 256; ++bin) e[bin] = (bin / 5) % 2 == 0 ? 24 : 10;
    e[0] = 24;
    const Exponents raw = e;
    process_exponents(st, 253, e);
    EXPECT_LE(e[0], 15);
    const int values = exponent_values(st, 253);
    const int k = 1 << (st - 1);
    std::int32_t prev = e[0];
    for (int i = 0; i < values; ++i) {
      const std::int32_t v = e[static_cast<std::size_t>(1 + k * i)];
      EXPECT_LE(std::abs(v - prev), 2) << st << " value " << i;
      prev = v;
    }
    // Never above a bin's own exponent: every mantissa still fits.
    for (std::size_t bin = 0; bin < 253; ++bin) EXPECT_LE(e[bin], raw[bin]) << st << " bin " << bin;
    // Yet as high as that allows: each value its bins' least, or 2 above
    // a neighbour (the absolute exponent before the first).
    const auto at = [&](int i) { return i < 0 ? e[0] : e[static_cast<std::size_t>(1 + k * i)]; };
    for (int i = 0; i < values; ++i) {
      const auto first = raw.begin() + 1 + k * i;
      const bool highest = at(i) == *std::min_element(first, first + k) || at(i) == at(i - 1) + 2 ||
                           (i + 1 < values && at(i) == at(i + 1) + 2);
      EXPECT_TRUE(highest) << st << " value " << i;
    }
  }
}

// The offset search stays within the budget; what is written is exactly
// what was counted, so the frame's last 18 bits stay free.
TEST(Reencoder, FrameFitsItsBudget) {
  for (const unsigned size_index : {4u, 12u, 18u}) {
    auto s = StereoBlocks([](int blk, int bin) { return Q24{(1 << 22) >> ((bin + blk) % 14)}; });
    auto re = std::make_unique<Ac3Reencoder>();
    re->analyse(*s, 2, false);
    const std::size_t n = 2u * ac3::kFrameSizeWords48[size_index];
    std::vector<std::uint8_t> frame(n);
    BitWriter bw(frame);
    write_ac3_header({size_index, 2, 0}, FrameMetadata{}, bw);
    const std::size_t fixed = bw.bits_written() + re->side_information_bits() + 18;
    ASSERT_TRUE(re->choose_snr_offset(static_cast<std::int64_t>(8 * n - fixed)));
    EXPECT_LE(fixed + re->chosen_mantissa_bits(), 8 * n);
    re->write_blocks(bw);
    EXPECT_FALSE(bw.overflowed());
    EXPECT_EQ(bw.bits_written() + 18, fixed + re->chosen_mantissa_bits());
    // One more step of the fine offset would not have fitted, unless at the top.
    const int a = 16 * re->csnroffst() + re->fsnroffst();
    if (a < 1023) {
      EXPECT_GT(fixed + re->frame_mantissa_bits(a + 1), 8 * n) << size_index;
    }
  }
}

TEST(Reencoder, QuantisersPlaceValuesOnTheirLevels) {
  struct Case {
    std::uint8_t bap;
    Q24 coef;
    std::int32_t exp;
    std::uint16_t code;
  };
  const Case cases[] = {
      {1, 0, 24, 13},                  // three zeros of the 3-level quantiser: indices 1, 1, 1
      {4, 0, 24, 55},                  // a zero alone in its pair of the 11-level quantiser: 11 * 5 + 0
      {3, 0, 5, 3},                    // the middle of 7 levels
      {5, -(1 << 23) - 1, 1, 0},       // -1.0 after the exponent: the lowest of 15
      {6, (1 << 22), 1, 8},            // +0.5 in a 5-bit two's complement code
      {15, -(1 << 24), 0, 0x8000},     // -1.0 in 16 bits
      {15, (1 << 24) - 1, 0, 0x7FFF},  // just below +1.0 is limited to the largest code
  };
  for (const Case& c : cases) {
    const int n = c.bap == 1 ? 3 : 1;
    std::array<Q24, 3> coef{c.coef, c.coef, c.coef};
    std::array<std::int32_t, 3> exps{c.exp, c.exp, c.exp};
    std::array<std::uint8_t, 3> bap{c.bap, c.bap, c.bap};
    std::array<std::uint16_t, 3> codes{};
    MantissaQuantiser q;
    q.start_block();
    q.quantise(coef.data(), exps.data(), bap.data(), n, codes.data());
    EXPECT_EQ(codes[0], c.code) << int{c.bap};
  }
}

TEST(Reencoder, GroupsAreChargedOnceAcrossChannels) {
  // Four pointer-1 bins (two groups of three), three pointer-2 bins (one
  // group), three pointer-4 bins (two groups of two), 22 ungrouped bits.
  const std::uint64_t packed = (std::uint64_t{4} << 24) | (std::uint64_t{3} << 37) | (std::uint64_t{3} << 50) | 22;
  EXPECT_EQ(packed_block_bits(packed), 2u * 5 + 7 + 2 * 7 + 22);
}

}  // namespace
}  // namespace kelvor::transcode
