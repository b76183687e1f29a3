#pragma once
// The psychoacoustic model's spectrum: a 1024-point radix-2 FFT (decimation
// in time, bit-reversed input, Q24 twiddles, every product rounded) of the
// windowed input, and the level of each line.
#include <array>
#include <span>

#include "common/q24.h"
#include "mpegenc/simd_level.h"

namespace kelvor::mpegenc {

inline constexpr int kFftSize = 1024;

// The FFT window: the Hann window with its 1/N normalisation, sqrt(8/3) (1 - cos(2 pi k / N)) / (2N).
extern const std::array<Q24, kFftSize> kFftWindow;

// The levels of lines 0 .. levels.size() - 1 of the windowed samples'
// spectrum; re and im are work space. `simd` limits the vector code used
// (all give the same numbers).
void WindowedSpectrum(std::span<const Q24, kFftSize> samples, std::span<Q24, kFftSize> re, std::span<Q24, kFftSize> im,
                      std::span<Q24> levels, SimdLevel simd);

}  // namespace kelvor::mpegenc
