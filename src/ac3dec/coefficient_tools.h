#pragma once
// The coefficient tools applied after the mantissas: decoupling (A/52
// section 7.4.3), rematrixing (section 7.5) and E-AC-3 spectral extension
// (Annex E section E.3.3).
#include <array>
#include <span>

#include "ac3dec/dither.h"
#include "ac3dec/frame_state.h"
#include "common/q24.h"

namespace kelvor::ac3 {

using Coefficients = std::array<Q24, 256>;

// Rebuilds the coupling range of coupled channel ch from the coupling
// channel's mantissas `cplmant` (unscaled by exponents), the coordinates and
// the coupling exponents. Bins without bits get fresh dither when the
// channel's dithflag is set.
void decouple_channel(const FrameState& fs, int ch, std::span<const Q24, 256> cplmant, Ac3Dither& dither,
                      Coefficients& out);

// Undoes the sum/difference coding of a stereo pair in the flagged bands.
void rematrix(const FrameState& fs, Coefficients& left, Coefficients& right);

// Synthesises the spectral extension region of every channel in it.
void apply_spectral_extension(const FrameState& fs, std::span<Coefficients, kMaxFbw> channels, Ac3Dither& dither);

}  // namespace kelvor::ac3
