#pragma once
// The psychoacoustic model's frequency grid at one sample rate: the critical
// band rate and the threshold in quiet at each reduced index (the same FFT
// lines at every rate), and the critical bands that gather the non-tonal
// maskers. 48 kHz takes the printed table; 32 and 44.1 kHz take the formulas
// that table was printed from, at their own line frequencies.
#include <array>

#include "common/q24.h"
#include "mpegenc/allocation_tables.h"
#include "mpegenc/model_tables.h"

namespace kelvor::mpegenc {

inline constexpr std::size_t kGridPadded = 128;  // reduced indices padded for whole vectors

struct ModelGrid {
  std::array<Q24, kGridPadded> bark;   // Q24 Bark; the padding no masker reaches
  std::array<Q24, kGridPadded> threshold;  // threshold in quiet, level unit
  std::array<Q24, kGridPadded> quiet;      // the same lowered by 12 dB; the padding at the floor
  std::array<int, kCriticalBandEdges.size()> bandEdges;  // as kCriticalBandEdges
  // The lowered threshold in quiet at each subband's lowest frequency: the
  // mask of subbands above the grid's last line.
  std::array<Q24, kMaxSubbands> subbandQuiet;
};

// For 32000, 44100 or 48000 Hz (any other rate gets the 48 kHz grid).
const ModelGrid& ModelGridFor(int sampleRate);

// The formulas, frequencies in Hz: the critical band rate in Bark, and the
// threshold in quiet in dB on the model's scale (at most 68 dB, as printed).
double CriticalBandRate(double hz);
double ThresholdInQuietDb(double hz);

}  // namespace kelvor::mpegenc
