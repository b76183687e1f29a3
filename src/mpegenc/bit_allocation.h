#pragma once
// The iterative bit allocation: bits go, one allocation step at a time, to
// the subband whose noise-to-mask ratio is worst, until the frame is full.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/q24.h"
#include "mpegenc/simd_level.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {

// Bits for allocation, scale factors and samples: the frame less its header
// and allocation fields (no CRC, no ancillary data).
inline constexpr int kAllocationBudget = 8 * static_cast<int>(kFrameBytes) - 32 - kAllocationFieldBits;

using ChannelValues = std::array<std::array<Q24, kMaxSubbands>, kChannels>;
using ChannelIndices = std::array<std::array<std::uint8_t, kMaxSubbands>, kChannels>;

struct Allocation {
  ChannelIndices alloc{};  // allocation index per channel and subband
  int bitsLeft = 0;        // budget not spent; becomes zero padding
};

// Bits for allocation, scale factors and samples of a frame of `frameBytes`.
constexpr int AllocationBudget(std::size_t frameBytes, const AllocationTable& table, int channels) {
  return 8 * static_cast<int>(frameBytes) - 32 - table.fieldBits(channels);
}

// `budget` is kAllocationBudget in the conversion. `simd` limits the vector
// code used (all give the same allocation). Subbands from table.sblimit and
// channels from `channels` get nothing.
Allocation AllocateBits(const ChannelValues& smr, const ChannelIndices& scfsi, int budget = kAllocationBudget,
                        SimdLevel simd = SimdLevel::kAvx512, const AllocationTable& table = kTableA, int channels = kChannels);

}  // namespace kelvor::mpegenc
