#include "mpegenc/model_grid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "mpegenc/level_math.h"
#include "mpegenc/model_kernels.h"

namespace kelvor::mpegenc {
namespace {

Q24 QuietLevel(Q24 threshold) { return saturate_i32(static_cast<std::int64_t>(threshold) + model::kQuietLowering); }

Q24 ThresholdLevel(double db) { return RoundToQ24((db - kFullScaleDb) / kDbPerLevelUnit); }

ModelGrid Build(int sampleRate) {
  ModelGrid g{};
  const double lineHz = sampleRate / 1024.0;
  for (std::size_t i = 0; i < kGridPadded; ++i) {
    if (i >= kReducedIndices) {
      g.bark[i] = 100 * model::kBark;
      g.threshold[i] = kLevelFloor;
      g.quiet[i] = kLevelFloor;
      continue;
    }
    if (sampleRate == 48000) {
      g.bark[i] = kReducedIndex[i].bark;
      g.threshold[i] = kReducedIndex[i].threshold;
    } else {
      const double hz = kReducedIndex[i].line * lineHz;
      g.bark[i] = RoundToQ24(CriticalBandRate(hz));
      g.threshold[i] = ThresholdLevel(ThresholdInQuietDb(hz));
    }
    g.quiet[i] = QuietLevel(g.threshold[i]);
  }
  // The same band edges in Hz as at 48 kHz, each band at least one line.
  int last = 1;
  for (std::size_t b = 0; b < g.bandEdges.size(); ++b) {
    const int edge = static_cast<int>(std::lround(kCriticalBandEdges[b] * 48000.0 / sampleRate));
    last = std::min(std::max(edge, last + 1), kCriticalBandEdges.back());
    g.bandEdges[b] = last;
  }
  g.bandEdges.back() = kCriticalBandEdges.back();
  for (std::size_t sb = 0; sb < g.subbandQuiet.size(); ++sb) {
    g.subbandQuiet[sb] = QuietLevel(ThresholdLevel(ThresholdInQuietDb(std::max(16.0 * static_cast<double>(sb), 1.0) * lineHz)));
  }
  return g;
}

}  // namespace

double CriticalBandRate(double hz) {
  const double khz = hz / 1000.0;
  return 13.0 * std::atan(0.76 * khz) + 3.5 * std::atan((khz / 7.5) * (khz / 7.5));
}

double ThresholdInQuietDb(double hz) {
  const double khz = hz / 1000.0;
  const double db = 3.64 * std::pow(khz, -0.8) - 6.5 * std::exp(-0.6 * (khz - 3.3) * (khz - 3.3)) + 1e-3 * std::pow(khz, 4.0);
  return std::min(db, 68.0);
}

const ModelGrid& ModelGridFor(int sampleRate) {
  static const ModelGrid k32 = Build(32000);
  static const ModelGrid k44 = Build(44100);
  static const ModelGrid k48 = Build(48000);
  if (sampleRate == 32000) return k32;
  if (sampleRate == 44100) return k44;
  return k48;
}

}  // namespace kelvor::mpegenc
