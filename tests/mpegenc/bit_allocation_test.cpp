// The iterative allocation: its budget, its strict comparison and its order.
#include <gtest/gtest.h>

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
