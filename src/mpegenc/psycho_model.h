#pragma once
// Psychoacoustic model 1 for Layer II, in fixed point on levels:
// a 1024-point FFT, tonal and non-tonal maskers, spreading over the Bark
// scale, a global threshold and its minimum per subband give the
// signal-to-mask ratio of each coded subband.
#include <array>
#include <cstdint>
#include <span>

#include "common/q24.h"
#include "mpegenc/fft.h"
#include "mpegenc/model_grid.h"
#include "mpegenc/simd_level.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {

inline constexpr int kSpectrumLines = 445;  // lines 0..444 cover the coded subbands

class PsychoModel {
 public:
  // `simd` limits the vector code used (all give the same numbers).
  explicit PsychoModel(SimdLevel simd = SimdLevel::kAvx512, int sampleRate = 48000)
      : grid_(&ModelGridFor(sampleRate)), simd_(UsableSimd(simd)) {}

  // `samples`: 1024 time-ordered PCM samples; `largestScaleFactor`: per coded
  // subband, the smallest scale factor index of its three parts. The SMR of
  // as many subbands as `smr` holds (up to kMaxSubbands) is written; those
  // above the spectrum's lines are masked by the threshold in quiet or the
  // global threshold at the last reduced index, whichever is higher.
  void Compute(std::span<const Q24, kFftSize> samples, std::span<const std::uint8_t> largestScaleFactor,
               std::span<Q24> smr);

  // Levels of the last spectrum, for tests.
  std::span<const Q24, kSpectrumLines> spectrum() const { return spectrum_; }
  // Lines of the tonal maskers left after decimation, for tests.
  std::span<const std::int16_t> tonalMaskerLines() const { return {keptTonal_.data(), static_cast<std::size_t>(keptTonalCount_)}; }

 private:
  struct Masker {
    std::int16_t line;
    bool tonal;
    Q24 level;
  };

  void Transform(std::span<const Q24, kFftSize> samples);
  void FindTonal();
  void FindNonTonal();
  void Decimate();
  void GlobalThreshold();

  std::array<Q24, kFftSize> re_{};
  std::array<Q24, kFftSize> im_{};
  std::array<Q24, kSpectrumLines> spectrum_{};
  std::array<Q24, kSpectrumLines> remaining_{};  // the spectrum less tonal lines and their neighbours (at the floor)
  std::array<bool, kSpectrumLines> isTonal_{};
  std::array<std::int16_t, kSpectrumLines> tonalLine_{};
  std::array<Q24, kSpectrumLines> tonalLevel_{};
  int tonalCount_ = 0;
  std::array<Masker, kSpectrumLines + 32> maskers_{};
  int maskerCount_ = 0;
  std::array<std::int16_t, kSpectrumLines> keptTonal_{};
  int keptTonalCount_ = 0;
  std::array<Q24, 128> global_{};
  // The remaining maskers in order of frequency, for the spreading.
  struct SpreadTable {
    std::array<Q24, kSpectrumLines + 32> bark;
    std::array<Q24, kSpectrumLines + 32> base;      // X + masking index
    std::array<Q24, kSpectrumLines + 32> below;     // s = max(0.4 X + 13.993, 5.647)
    std::array<Q24, kSpectrumLines + 32> farSlope;  // 0.1 X - 2.647 per Bark
  };
  SpreadTable spread_{};
  std::array<std::uint16_t, 128> spreadFirst_{};  // per reduced index: maskers first .. end - 1 reach it
  std::array<std::uint16_t, 128> spreadEnd_{};
  const ModelGrid* grid_;
  SimdLevel simd_;
};

}  // namespace kelvor::mpegenc
