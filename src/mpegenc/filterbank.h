#pragma once
// The polyphase analysis filterbank: 32 new samples in, one sample of each of
// the 32 subbands out.
#include <array>
#include <cstdint>
#include <span>

#include "common/q24.h"
#include "mpegenc/simd_level.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {

// Samples of the previous frames the filter still needs before a frame.
inline constexpr int kFilterHistory = 512 - 32;

using SubbandFrame = std::array<std::array<Q24, kSubbands>, kSlots>;  // [t][sb]

// M[sb][k] = cos((2sb + 1)(k - 16) pi / 64) in Q24, built so that the
// symmetries the fast matrixing relies on hold exactly.
extern const std::array<std::array<Q24, 64>, kSubbands> kMatrixing;

// One channel's frame. `pcm` is time-ordered: kFilterHistory samples of the
// previous frames followed by the frame's 1152 samples. `simd` limits the
// vector code used (all give the same numbers).
void AnalyseFrame(std::span<const Q24> pcm, SubbandFrame& out, SimdLevel simd = SimdLevel::kAvx512);

// The definition, term by term (rounded products): the reference the fast
// matrixing is tested against. `x` holds X[i], the sample i positions back
// from the newest.
void AnalyseSlotDirect(std::span<const Q24, 512> x, std::span<Q24, kSubbands> out);

}  // namespace kelvor::mpegenc
