// The iterative allocation: its budget, its strict comparison and its order.
#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "mpegenc/bit_allocation.h"

namespace kelvor::mpegenc {
namespace {

ChannelValues Filled(Q24 v) {
  ChannelValues a;
  for (auto& ch : a) ch.fill(v);
  return a;
}

ChannelIndices AllScfsi(std::uint8_t v) {
  ChannelIndices a;
  for (auto& ch : a) ch.fill(v);
  return a;
}

TEST(MpegBitAllocation, CostEqualToTheBudgetIsRefused) {
  // Subband 0 of channel 0 is the worst; its first step costs 60 sample bits,
  // 2 scfsi bits and one 6-bit scale factor.
  ChannelValues smr = Filled(-(100 << 24));
  smr[0][0] = 50 << 24;
  const ChannelIndices scfsi = AllScfsi(2);
  const Allocation refused = AllocateBits(smr, scfsi, 68);
  EXPECT_EQ(refused.alloc[0][0], 0);
  EXPECT_EQ(refused.bitsLeft, 68);
  const Allocation taken = AllocateBits(smr, scfsi, 69);
  EXPECT_EQ(taken.alloc[0][0], 1);
  EXPECT_EQ(taken.bitsLeft, 1);
}

TEST(MpegBitAllocation, TiesGoToChannelZeroAndTheLowerSubband) {
  const Allocation a = AllocateBits(Filled(0), AllScfsi(2), 69);
  for (std::size_t ch = 0; ch < kChannels; ++ch) {
    for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) EXPECT_EQ(a.alloc[ch][sb], ch == 0 && sb == 0 ? 1 : 0);
  }
}

TEST(MpegBitAllocation, SilentFrameStillSpendsItsBudget) {
  const Allocation a = AllocateBits(Filled(-(60 << 24)), AllScfsi(2));
  int allocated = 0;
  for (const auto& ch : a.alloc) {
    for (const std::uint8_t v : ch) allocated += v != 0;
  }
  EXPECT_EQ(allocated, 2 * kCodedSubbands);
  EXPECT_GE(a.bitsLeft, 0);
  EXPECT_LT(a.bitsLeft, 576);  // less than the dearest single step
}

TEST(MpegBitAllocation, LoudSubbandGetsTheMostBits) {
  ChannelValues smr = Filled(0);
  smr[1][4] = 40 << 24;  // 120 dB to mask
  const Allocation a = AllocateBits(smr, AllScfsi(0));
  EXPECT_EQ(a.alloc[1][4], AllocationRowOf(4).highest);
  for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
    if (sb != 4) {
      EXPECT_LT(a.alloc[1][sb], a.alloc[1][4]);
    }
  }
}

}  // namespace
}  // namespace kelvor::mpegenc

namespace kelvor::mpegenc {
namespace {

// The procedure as written, a scan per step: the tree-based allocation must
// pick the same subbands in the same order.
Allocation ScanAllocation(const ChannelValues& smr, const ChannelIndices& scfsi) {
  Allocation r;
  ChannelValues mnr;
  std::array<std::array<int, kCodedSubbands>, kChannels> state{};  // 0 empty, 1 open, 2 closed
  const auto sub = [](Q24 a, Q24 b) { return saturate_i32(static_cast<std::int64_t>(a) - b); };
  const auto bits = [](int sb, int a) { return a == 0 ? 0 : kQuantClass[static_cast<std::size_t>(AllocationRowOf(sb).classOf[static_cast<std::size_t>(a)])].frameBits; };
  for (std::size_t ch = 0; ch < kChannels; ++ch) {
    for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) mnr[ch][sb] = sub(0, smr[ch][sb]);
  }
  int remaining = kAllocationBudget;
  for (;;) {
    int bc = -1;
    std::size_t bs = 0;
    for (std::size_t ch = 0; ch < kChannels; ++ch) {
      for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
        if (state[ch][sb] != 2 && (bc < 0 || mnr[ch][sb] < mnr[static_cast<std::size_t>(bc)][bs])) {
          bc = static_cast<int>(ch);
          bs = sb;
        }
      }
    }
    if (bc < 0) break;
    const auto ch = static_cast<std::size_t>(bc);
    const int sb = static_cast<int>(bs);
    const int next = r.alloc[ch][bs] + 1;
    int cost = bits(sb, next) - bits(sb, next - 1);
    if (state[ch][bs] == 0) cost += 2 + 6 * kScaleFactorsSent[scfsi[ch][bs]];
    if (cost < remaining) {
      remaining -= cost;
      r.alloc[ch][bs] = static_cast<std::uint8_t>(next);
      mnr[ch][bs] = sub(kQuantClass[static_cast<std::size_t>(AllocationRowOf(sb).classOf[static_cast<std::size_t>(next)])].snr, smr[ch][bs]);
      state[ch][bs] = next < AllocationRowOf(sb).highest ? 1 : 2;
    } else {
      state[ch][bs] = 2;
    }
  }
  r.bitsLeft = remaining;
  return r;
}

TEST(MpegBitAllocation, SameChoicesAsAScanPerStep) {
  std::mt19937 rng(5);
  std::uniform_int_distribution<Q24> level(-(40 << 24), 40 << 24);
  std::uniform_int_distribution<int> coarse(-8, 8);  // many ties
  std::uniform_int_distribution<int> pattern(0, 3);
  for (int round = 0; round < 300; ++round) {
    ChannelValues smr;
    ChannelIndices scfsi;
    for (std::size_t ch = 0; ch < kChannels; ++ch) {
      for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
        smr[ch][sb] = round % 3 == 0 ? coarse(rng) << 24 : round % 7 == 0 ? std::numeric_limits<Q24>::min() + (coarse(rng) + 8) : level(rng);
        scfsi[ch][sb] = static_cast<std::uint8_t>(pattern(rng));
      }
    }
    const Allocation scan = ScanAllocation(smr, scfsi);
    for (const SimdLevel simd : {SimdLevel::kPlain, SimdLevel::kAvx2, SimdLevel::kAvx512}) {  // as far as the processor has them
      const Allocation fast = AllocateBits(smr, scfsi, kAllocationBudget, simd);
      ASSERT_EQ(fast.alloc, scan.alloc) << round;
      ASSERT_EQ(fast.bitsLeft, scan.bitsLeft) << round;
    }
  }
}

}  // namespace
}  // namespace kelvor::mpegenc
