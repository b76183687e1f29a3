#pragma once
// Tables of A/52 Annex E (E-AC-3) used by the decoder and the transcoder.
#include <array>
#include <cstdint>

#include "common/q24.h"

namespace kelvor::eac3 {

// Audio blocks per syncframe by numblkscod (Table E2.4).
inline constexpr std::array<std::uint8_t, 4> kBlocksPerFrame = {1, 2, 3, 6};

// High-efficiency bit allocation pointers (Table E3.1).
extern const std::array<std::uint8_t, 64> hebaptab;

// Frame exponent strategy combinations (Table E2.10): row frmchexpstr,
// column block; 0 reuse, 1 D15, 2 D25, 3 D45.
extern const std::array<std::array<std::uint8_t, 6>, 32> kFrameExpStrategy;

// Default band structures by absolute sub-band (Tables E2.16 and E2.15).
extern const std::array<std::uint8_t, 18> kDefaultCplBandStruct;
extern const std::array<std::uint8_t, 17> kDefaultSpxBandStruct;

// Spectral extension attenuation (Table E3.14): three filter taps per
// spxattencod, in Q24.
extern const std::array<std::array<Q24, 3>, 32> kSpxAttenuation;

// Adaptive hybrid transform quantisers, indexed by hebap (Table E3.2): VQ
// index bits for hebap 1..7, scalar mantissa bits for hebap 8..19.
inline constexpr std::array<std::uint8_t, 20> kHebapBits = {0, 2, 3, 4, 5, 7, 8, 9, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};

// Large-mantissa remapping of the gain-adaptive quantiser (Table E3.6), in
// Q24, by hebap - 8. With gain 1 a code c maps to c * kGaqScale1; after an
// escape with gain exponent g (1 or 2) a value v maps to
// round(v * kGaqScale[h][g - 1]) + (v < 0 ? kGaqOffsetNeg[h][g - 1] : 2^24 >> g).
extern const std::array<Q24, 12> kGaqScale1;
extern const std::array<std::array<Q24, 2>, 9> kGaqScale;
extern const std::array<std::array<Q24, 2>, 9> kGaqOffsetNeg;

// The VQ codebooks (Tables E4.1 to E4.7): number of vectors for hebap 1..7
// and one value of a vector in Q24.
inline constexpr std::array<std::uint16_t, 8> kVqSize = {0, 4, 8, 16, 32, 128, 256, 512};
Q24 vq_value(unsigned hebap, unsigned index, unsigned block);

}  // namespace kelvor::eac3
