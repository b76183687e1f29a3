#pragma once
// The iterative bit allocation: bits go, one allocation step at a time, to
// the subband whose noise-to-mask ratio is worst, until the frame is full.
#include <array>
#include <cstdint>
#include <span>

#include "common/q24.h"
#include "mpegenc/simd_level.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {

// Bits for allocation, scale factors and samples: the frame less its header
// and allocation fields (no CRC, no ancillary data).
inline constexpr int kAllocationBudget = 8 * static_cast<int>(kFrameBytes) - 32 - kAllocationFieldBits;

using ChannelValues = std::array<std::array<Q24, kCodedSubbands>, kChannels>;
using ChannelIndices = std::array<std::array<std::uint8_t, kCodedSubbands>, kChannels>;

struct Allocation {
  ChannelIndices alloc{};  // allocation index per channel and subband
  int bitsLeft = 0;        // budget not spent; becomes zero padding
};

// `budget` is kAllocationBudget except in tests. `simd` limits the vector
// code used (all give the same allocation).
Allocation AllocateBits(const ChannelValues& smr, const ChannelIndices& scfsi, int budget = kAllocationBudget,
                        SimdLevel simd = SimdLevel::kAvx512);

}  // namespace kelvor::mpegenc
