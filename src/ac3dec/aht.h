#pragma once
// The adaptive hybrid transform of E-AC-3 (A/52 Annex E section E.3.4): all
// six blocks' mantissas of a channel are read in its first block, through
// vector or gain-adaptive scalar quantisers, and turned back into six
// per-block values by a six-point inverse DCT.
#include <array>
#include <cstdint>
#include <span>

#include "ac3dec/dither.h"
#include "common/bit_reader.h"
#include "common/q24.h"

namespace kelvor::ac3 {

using AhtBin = std::array<Q24, 6>;  // one bin's value in each of the six blocks

// Reads gaqmod, the gain codes and the mantissas of bins start..end-1 with
// high-efficiency pointers hebap (0..19), and writes each bin's six values
// after the inverse DCT. Bins with hebap 0 take six dither values, or zeros
// when `dither_empty_bins` is false: the coupling channel is read without
// dither, which decoupling adds per channel. Returns false on a gain triplet
// code above 26.
bool read_aht_channel(BitReader& br, std::span<const std::uint8_t, 256> hebap, int start, int end,
                      Ac3Dither& dither, bool dither_empty_bins, std::span<AhtBin, 256> out);

// The six-point inverse DCT x[m] = X[0] + sqrt(2) sum_k X[k] cos((2m+1) k pi / 12).
AhtBin aht_inverse_dct(const AhtBin& coefficients);

}  // namespace kelvor::ac3
