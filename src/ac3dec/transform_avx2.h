#pragma once
// AVX2 versions of the inverse transform's stages, used when the processor
// has AVX2. They compute exactly what the portable code computes: the same
// rounded Q24 products and saturating sums in the same order, eight values
// at a time.
#include <span>

#include "common/q24.h"

namespace kelvor::ac3 {

// One radix-2 stage of span 2 * half (half >= 8) over n points, with
// saturating sums or, when nothing can overflow, plain ones. Returns false,
// doing nothing, without AVX2.
bool fft_stage_avx2(Q24* re, Q24* im, int n, int half, bool saturate);

// The whole 512-sample transform with overlap. Returns false, doing
// nothing, without AVX2.
bool inverse_transform_512_avx2(std::span<Q24, 256> data, std::span<Q24, 256> delay);

}  // namespace kelvor::ac3
