#pragma once
// The fixed stereo fold-down of the decoder's output: all channels of a
// block folded into left and right with constant gains (no stream metadata).
#include <cstdint>
#include <span>

#include "common/q24.h"

namespace kelvor::ac3 {

// Gains in Q24 (round(x * 2^24)).
inline constexpr Q24 kFrontOf3 = 9827866;     // 1/(1 + sqrt(1/2))
inline constexpr Q24 kSideOf3 = 6949350;      // sqrt(1/2)/(1 + sqrt(1/2)) = 1/(1 + 2 sqrt(1/2))
inline constexpr Q24 kSideOf4 = 4913933;      // sqrt(1/2)/(1 + 2 sqrt(1/2))
inline constexpr Q24 kFrontOf5 = 5375038;     // 1/(1 + 3 sqrt(1/2))
inline constexpr Q24 kSideOf5 = 3800726;      // sqrt(1/2)/(1 + 3 sqrt(1/2))
inline constexpr Q24 kLfeGain = 5305422;      // 1/sqrt(10), -10 dB

// Folds the 256 samples of one block. `channels` holds the full-bandwidth
// channels in bit-stream order; `lfe` is empty without an LFE channel.
void fold_to_stereo(int acmod, std::span<const Q24* const> channels, const Q24* lfe, std::span<Q24, 256> left,
                    std::span<Q24, 256> right);

// The same without the processor-specific (AVX2) code path, which must give
// identical results.
void fold_to_stereo_portable(int acmod, std::span<const Q24* const> channels, const Q24* lfe,
                             std::span<Q24, 256> left, std::span<Q24, 256> right);

}  // namespace kelvor::ac3
