#pragma once
// Quantisation and the Layer II bitstream of one frame.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/q24.h"
#include "mpegenc/bit_allocation.h"
#include "mpegenc/filterbank.h"
#include "mpegenc/scale_factors.h"
#include "mpegenc/simd_level.h"

namespace kelvor::mpegenc {

// The conversion's header: 48 kHz, 384 kbit/s, stereo, no CRC, no padding.
inline constexpr std::array<std::uint8_t, 4> kFrameHeader = {0xFF, 0xFD, 0xE4, 0x00};

using ScaleChoices = std::array<std::array<ScaleChoice, kMaxSubbands>, kChannels>;

// What a frame's bitstream depends on besides its content.
struct FrameLayout {
  const AllocationTable* table = &kTableA;
  int channels = kChannels;
  std::array<std::uint8_t, 4> header = kFrameHeader;
};

// The code of subband sample s quantised with scale factor value f (f > |s|)
// in quantisation class c: floor(A (s/f + 1) 2^(N-1)), within 0 .. levels - 1.
// A sample at or beyond the scale factor (only from input above 2.0) is clipped.
std::uint32_t QuantiseSample(Q24 s, Q24 f, int c);

// The same for the 36 samples of a subband (first[0], first[stride], ...),
// part p of 12 with the scale factor value f[p], as the frame writer does it
// (without an integer division).
void QuantiseSubband(const Q24* first, std::size_t stride, std::span<const Q24, 3> f, const QuantClass& q,
                     std::uint16_t* code, SimdLevel simd = SimdLevel::kAvx512);

// Fills all of `out` (the frame's length): what the allocation leaves is zero.
void WriteFrame(const std::array<SubbandFrame, kChannels>& subbands, const ScaleChoices& scale,
                const Allocation& allocation, const FrameLayout& layout, std::span<std::uint8_t> out);

}  // namespace kelvor::mpegenc
