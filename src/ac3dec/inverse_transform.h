#pragma once
// The inverse transforms of A/52 section 7.9.4 in Q24, with the overlap-add
// against a channel's delay line. Both work in place: the 256 coefficients
// of a block become its 256 output samples.
#include <span>

#include "common/q24.h"

namespace kelvor::ac3 {

// The 512-sample transform (one 128-point complex FFT).
void inverse_transform_512(std::span<Q24, 256> data, std::span<Q24, 256> delay);

// The pair of 256-sample transforms of a block-switched channel (two
// 64-point complex FFTs over the even and the odd coefficients).
void inverse_transform_256(std::span<Q24, 256> data, std::span<Q24, 256> delay);

// The same transforms without the processor-specific (AVX2) code paths, which
// must give identical results.
void inverse_transform_512_portable(std::span<Q24, 256> data, std::span<Q24, 256> delay);
void inverse_transform_256_portable(std::span<Q24, 256> data, std::span<Q24, 256> delay);

// The portable transforms saturating every sum, never taking the short cut
// for quiet blocks; the others must match them.
void inverse_transform_512_saturating(std::span<Q24, 256> data, std::span<Q24, 256> delay);
void inverse_transform_256_saturating(std::span<Q24, 256> data, std::span<Q24, 256> delay);

}  // namespace kelvor::ac3
