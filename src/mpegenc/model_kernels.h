#pragma once
// The psychoacoustic model's inner loops, plain and vectorised: the search
// for tonal candidates and the spreading of the maskers over the reduced
// indices. Every vector path gives exactly the plain path's numbers.
#include <array>
#include <cstdint>

#include "common/q24.h"
#include "mpegenc/psycho_model.h"
#include "mpegenc/simd_level.h"

namespace kelvor::mpegenc::model {

// Constants in the level unit (Q24 log2 of a power).
inline constexpr Q24 kTonalMargin = 39012893;          // 7 dB
inline constexpr Q24 kMaskingSlope = -1671981;         // masking index per Bark
inline constexpr Q24 kTonalIndexOffset = -50159434;
inline constexpr Q24 kNoiseIndexOffset = -27866352;
inline constexpr Q24 kSpreadLevelFactor = 6710886;     // 0.4
inline constexpr Q24 kSpreadLevelOffset = 234766215;   // 13.993
inline constexpr Q24 kSpreadMinimum = 94745598;        // 5.647 (17 dB)
inline constexpr Q24 kSpreadAbove = -100318869;        // -5.979 (-18 dB) per Bark
inline constexpr Q24 kSpreadFarLevelFactor = -1677721; // -0.1
inline constexpr Q24 kSpreadFarOffset = -44413950;     // -2.647
inline constexpr Q24 kQuietLowering = -66879246;       // -12 dB
inline constexpr Q24 kTonalMinSpacing = 1677721;       // 0.1 Bark
inline constexpr Q24 kBark = kQ24One;


inline Q24 SubSat(Q24 a, Q24 b) { return saturate_i32(static_cast<std::int64_t>(a) - b); }

// A set of FFT lines, one bit each.
using LineSet = std::array<std::uint64_t, (kSpectrumLines + 63) / 64>;

// Lines 2..432 that are local maxima standing 7 dB above the lines two away:
// every tonal line is one, and most noise peaks are not.
void FindTonalCandidates(const Q24* x, LineSet& set, SimdLevel simd);

// What the lines of a critical band above the floor hold: the largest level,
// and the powers relative to it (Q24) summed, with their first moment in lines.
struct NoiseBand {
  Q24 peak;  // the floor when no line is above it (the sums are then 0)
  std::int64_t sum;
  std::int64_t moment;
};

// Lines lo .. hi - 1 of `level`.
NoiseBand SumNoiseBand(const Q24* level, int lo, int hi, SimdLevel simd);

// The remaining maskers in order of frequency, and for each reduced index
// the range first .. end - 1 of maskers that reach it.
struct Spreading {
  const Q24* indexBark;  // per reduced index, 128 values (ModelGrid::bark)
  const Q24* bark;
  const Q24* base;      // X + masking index
  const Q24* below;     // s = max(0.4 X + 13.993, 5.647)
  const Q24* farSlope;  // 0.1 X - 2.647 per Bark
  const std::uint16_t* first;
  const std::uint16_t* end;
};

// The individual thresholds of every masker summed (as amplitudes) at each
// reduced index, from the floor; writes 128 values (the last two unused).
void SpreadMaskers(const Spreading& in, Q24* global, SimdLevel simd);

// Adds the lowered absolute threshold `quiet` (ModelGrid::quiet) to each of
// the 126 global thresholds (powers with exponent 1/3); both hold 128 values.
void AddQuietThreshold(Q24* global, const Q24* quiet, SimdLevel simd);

}  // namespace kelvor::mpegenc::model
