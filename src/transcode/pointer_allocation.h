#pragma once
// The bit allocation pointers of one channel at any SNR offset. The mask
// is spread to the bins once per block, so that each offset the search
// tries costs a few vector steps per 32 bins; the pointers are the
// decoder's (the same integer steps) and their bits are counted as they
// are made.
#include <array>
#include <cstdint>

#include "ac3dec/bit_allocation.h"

namespace kelvor::transcode {

// A channel's power spectral density and masking curve per bin, both less
// the allocation floor, in 16 bits (the curves stay within 0..2^13).
struct SpreadMask {
  alignas(32) std::array<std::int16_t, 256> psd;  // past the channel's end: below any threshold
  alignas(32) std::array<std::int16_t, 256 + 16> mask;  // 256 used
};

// From a channel's exponents and its masking curve per band.
void spread_mask(const std::int32_t* exps, const ac3::MaskResult& m, int end, int floor, SpreadMask& out);

// The pointers of all 256 bins at `snroffset` (0 from the channel's end
// on) into `bap`, and their bits packed as packed_block_bits takes them.
std::uint64_t allocate_pointers(const SpreadMask& m, int snroffset, std::uint8_t* bap);

// The bits of one block from the sum of its channels' packed counts: a
// group is charged once, at its first member.
std::uint32_t packed_block_bits(std::uint64_t packed);

}  // namespace kelvor::transcode
