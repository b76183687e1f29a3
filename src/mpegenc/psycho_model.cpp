#include "mpegenc/psycho_model.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "mpegenc/level_math.h"
#include "mpegenc/model_kernels.h"
#include "mpegenc/model_tables.h"

namespace kelvor::mpegenc {
namespace {

using namespace model;

// 20 log10(scale factor) - 10 dB, per scale factor index.
constexpr std::array<Q24, 64> kScaleFactorLevel = [] {
  std::array<Q24, 64> t{};
  for (int i = 0; i < 64; ++i) t[static_cast<std::size_t>(i)] = -22178274 - 11184810 * i;
  return t;
}();

// For each FFT line, the first reduced index whose line is at or above it.
constexpr std::array<std::uint8_t, kSpectrumLines> kReducedOfLine = [] {
  std::array<std::uint8_t, kSpectrumLines> t{};
  std::size_t i = 0;
  for (std::size_t k = 0; k < t.size(); ++k) {
    while (i + 1 < kReducedIndices && kReducedIndex[i].line < static_cast<int>(k)) ++i;
    t[k] = static_cast<std::uint8_t>(i);
  }
  return t;
}();

// The reduced indices whose minimum threshold each subband takes: the next
// index unconditionally, then every index whose line l has (l - 1) / 16 = n.
struct IndexRange {
  std::uint8_t first;
  std::uint8_t end;
};

constexpr std::array<IndexRange, kCodedSubbands> kSubbandIndices = [] {
  std::array<IndexRange, kCodedSubbands> t{};
  std::size_t i = 0;
  for (int n = 0; n < kCodedSubbands; ++n) {
    const std::size_t first = i++;
    while (i < kReducedIndices && (kReducedIndex[i].line - 1) / 16 == n) ++i;
    t[static_cast<std::size_t>(n)] = {static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(i)};
  }
  return t;
}();

int TonalRange(int k) {
  if (k <= 61) return 2;
  if (k <= 125) return 3;
  if (k <= 253) return 6;
  return 12;
}

}  // namespace

void PsychoModel::Transform(std::span<const Q24, kFftSize> samples) {
  WindowedSpectrum(samples, re_, im_, spectrum_, simd_);
}

void PsychoModel::FindTonal() {
  const auto& x = spectrum_;
  remaining_ = spectrum_;
  isTonal_.fill(false);
  tonalCount_ = 0;
  LineSet candidates{};
  FindTonalCandidates(x.data(), candidates, simd_);
  for (std::size_t word = 0; word < candidates.size(); ++word) {
    for (std::uint64_t bits = candidates[word]; bits != 0; bits &= bits - 1) {
      const int k = static_cast<int>(64 * word) + std::countr_zero(bits);
      const auto at = [&](int line) { return x[static_cast<std::size_t>(line)]; };
      const int range = TonalRange(k);
      const Q24 limit = SubSat(at(k), kTonalMargin);
      bool tonal = true;
      for (int j = 3; j <= range && tonal; ++j) tonal = limit >= at(k + j) && limit >= at(k - j);
      if (!tonal) continue;
      Q24 level = at(k);
      if (k <= 254) level = levelAdd(at(k), levelAdd(at(k + 1), at(k - 1)));
      tonalLine_[static_cast<std::size_t>(tonalCount_)] = static_cast<std::int16_t>(k);
      tonalLevel_[static_cast<std::size_t>(tonalCount_)] = level;
      ++tonalCount_;
      isTonal_[static_cast<std::size_t>(k)] = true;
      remaining_[static_cast<std::size_t>(k)] = kLevelFloor;  // not noise either
      for (int j = 1; j <= range; ++j) {
        remaining_[static_cast<std::size_t>(k - j)] = kLevelFloor;
        remaining_[static_cast<std::size_t>(k + j)] = kLevelFloor;
      }
    }
  }
}

void PsychoModel::FindNonTonal() {
  maskerCount_ = 0;
  for (int t = 0; t < tonalCount_; ++t) {
    maskers_[static_cast<std::size_t>(maskerCount_++)] = {tonalLine_[static_cast<std::size_t>(t)], true,
                                                          tonalLevel_[static_cast<std::size_t>(t)]};
  }
  int lo = 1;
  for (const int hi : grid_->bandEdges) {
    const NoiseBand band = SumNoiseBand(remaining_.data(), lo, hi, simd_);
    Q24 level = kLevelFloor;
    int line = (lo + hi - 1) / 2;
    if (band.peak > kLevelFloor) {
      // Powers relative to the band's peak, and their first moment for the position.
      level = add_sat_q24(band.peak, LevelOfUnsigned(static_cast<std::uint64_t>(band.sum), 24));
      line = static_cast<int>((band.moment + band.sum / 2) / band.sum);
    }
    if (isTonal_[static_cast<std::size_t>(line)]) line = (line + 1 < hi && !isTonal_[static_cast<std::size_t>(line + 1)]) ? line + 1 : line - 1;
    if (line >= lo && line < hi) maskers_[static_cast<std::size_t>(maskerCount_++)] = {static_cast<std::int16_t>(line), false, level};
    lo = hi;
  }
}

void PsychoModel::Decimate() {
  int kept = 0;
  int lastTonal = -1;  // position in maskers_ of the last tonal masker kept
  for (int m = 0; m < maskerCount_; ++m) {
    const Masker cur = maskers_[static_cast<std::size_t>(m)];
    const std::size_t index = kReducedOfLine[static_cast<std::size_t>(cur.line)];
    if (cur.level < grid_->threshold[index]) continue;
    if (cur.tonal && lastTonal >= 0) {
      Masker& prev = maskers_[static_cast<std::size_t>(lastTonal)];
      const Q24 prevBark = grid_->bark[kReducedOfLine[static_cast<std::size_t>(prev.line)]];
      if (SubSat(grid_->bark[index], prevBark) < kTonalMinSpacing) {
        if (cur.level > prev.level) prev = cur;  // the weaker one goes
        continue;
      }
    }
    maskers_[static_cast<std::size_t>(kept)] = cur;
    if (cur.tonal) lastTonal = kept;
    ++kept;
  }
  maskerCount_ = kept;
  keptTonalCount_ = 0;
  for (int m = 0; m < kept && maskers_[static_cast<std::size_t>(m)].tonal; ++m) {
    keptTonal_[static_cast<std::size_t>(keptTonalCount_++)] = maskers_[static_cast<std::size_t>(m)].line;
  }
}

void PsychoModel::GlobalThreshold() {
  // The maskers in order of frequency (tonal and non-tonal are each in order).
  int tonalEnd = 0;
  while (tonalEnd < maskerCount_ && maskers_[static_cast<std::size_t>(tonalEnd)].tonal) ++tonalEnd;
  for (int m = 0, a = 0, b = tonalEnd; m < maskerCount_; ++m) {
    const bool takeTonal = a < tonalEnd && (b >= maskerCount_ || maskers_[static_cast<std::size_t>(a)].line <=
                                                                     maskers_[static_cast<std::size_t>(b)].line);
    const Masker& k = maskers_[static_cast<std::size_t>(takeTonal ? a++ : b++)];
    const Q24 z = grid_->bark[kReducedOfLine[static_cast<std::size_t>(k.line)]];
    const Q24 index = add_sat_q24(mul_q24(kMaskingSlope, z), k.tonal ? kTonalIndexOffset : kNoiseIndexOffset);
    const auto at = static_cast<std::size_t>(m);
    spread_.bark[at] = z;
    spread_.base[at] = add_sat_q24(k.level, index);
    spread_.below[at] = std::max(add_sat_q24(mul_q24(kSpreadLevelFactor, k.level), kSpreadLevelOffset), kSpreadMinimum);
    spread_.farSlope[at] = add_sat_q24(-mul_q24(kSpreadFarLevelFactor, k.level), kSpreadFarOffset);
  }
  // Maskers reach from 3 Bark above an index to 8 Bark below it.
  int first = 0;
  int end = 0;
  for (std::size_t i = 0; i < kReducedIndices; ++i) {
    const Q24 zi = grid_->bark[i];
    while (first < maskerCount_ && SubSat(zi, spread_.bark[static_cast<std::size_t>(first)]) >= 8 * kBark) ++first;
    while (end < maskerCount_ && SubSat(zi, spread_.bark[static_cast<std::size_t>(end)]) >= -3 * kBark) ++end;
    spreadFirst_[i] = static_cast<std::uint16_t>(first);
    spreadEnd_[i] = static_cast<std::uint16_t>(end);
  }
  SpreadMaskers({grid_->bark.data(), spread_.bark.data(), spread_.base.data(), spread_.below.data(), spread_.farSlope.data(),
                 spreadFirst_.data(), spreadEnd_.data()},
                global_.data(), simd_);
  AddQuietThreshold(global_.data(), grid_->quiet.data(), simd_);
}

void PsychoModel::Compute(std::span<const Q24, kFftSize> samples, std::span<const std::uint8_t> largestScaleFactor,
                          std::span<Q24> smr) {
  Transform(samples);
  FindTonal();
  FindNonTonal();
  Decimate();
  GlobalThreshold();
  const std::size_t subbands = std::min({smr.size(), largestScaleFactor.size(), std::size_t{kMaxSubbands}});
  for (std::size_t n = 0; n < subbands; ++n) {
    const Q24 scaleLevel = kScaleFactorLevel[std::min<std::uint8_t>(largestScaleFactor[n], 63)];
    if (n >= kCodedSubbands) {
      // Above the grid: the threshold in quiet, or the mask at the grid's
      // top if higher (without it, these subbands took bits first).
      smr[n] = SubSat(scaleLevel, std::max(grid_->subbandQuiet[n], global_[kReducedIndices - 1]));
      continue;
    }
    Q24 peak = kLevelFloor;
    for (std::size_t k = 16 * n; k < 16 * n + 16; ++k) peak = std::max(peak, spectrum_[k]);
    Q24 minimum = global_[kSubbandIndices[n].first];
    for (std::size_t i = kSubbandIndices[n].first; i < kSubbandIndices[n].end; ++i) minimum = std::min(minimum, global_[i]);
    smr[n] = SubSat(std::max(peak, scaleLevel), minimum);
  }
}

}  // namespace kelvor::mpegenc
