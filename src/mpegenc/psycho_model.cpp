#include "mpegenc/psycho_model.h"

#include <algorithm>
#include <bit>
#include <cstddef>

#include "mpegenc/level_math.h"
#include "mpegenc/model_tables.h"
#include "mpegenc/simd.h"
#include "mpegenc/trig.h"

namespace kelvor::mpegenc {
namespace {

// Constants in the level unit (Q24 log2 of a power).
constexpr Q24 kTonalMargin = 39012893;          // 7 dB
constexpr Q24 kMaskingSlope = -1671981;         // masking index per Bark
constexpr Q24 kTonalIndexOffset = -50159434;
constexpr Q24 kNoiseIndexOffset = -27866352;
constexpr Q24 kSpreadLevelFactor = 6710886;     // 0.4
constexpr Q24 kSpreadLevelOffset = 234766215;   // 13.993
constexpr Q24 kSpreadMinimum = 94745598;        // 5.647 (17 dB)
constexpr Q24 kSpreadAbove = -100318869;        // -5.979 (-18 dB) per Bark
constexpr Q24 kSpreadFarLevelFactor = -1677721; // -0.1
constexpr Q24 kSpreadFarOffset = -44413950;     // -2.647
constexpr Q24 kQuietLowering = -66879246;       // -12 dB
constexpr Q24 kTonalMinSpacing = 1677721;       // 0.1 Bark
constexpr Q24 kBark = kQ24One;

// 20 log10(scale factor) - 10 dB, per scale factor index.
constexpr std::array<Q24, 64> kScaleFactorLevel = [] {
  std::array<Q24, 64> t{};
  for (int i = 0; i < 64; ++i) t[static_cast<std::size_t>(i)] = -22178274 - 11184810 * i;
  return t;
}();

constexpr std::array<CosSin, kFftSize / 2> kTwiddle = [] {
  std::array<CosSin, kFftSize / 2> t{};
  for (int n = 0; n < kFftSize / 2; ++n) t[static_cast<std::size_t>(n)] = CosSinOfTurns(n, kFftSize);
  return t;
}();

struct TwiddleQ24 {
  Q24 c;
  Q24 s;
};

constexpr std::array<TwiddleQ24, kFftSize / 2> kTwiddleQ24 = [] {
  std::array<TwiddleQ24, kFftSize / 2> t{};
  for (std::size_t n = 0; n < t.size(); ++n) t[n] = {RoundToQ24(kTwiddle[n].c), RoundToQ24(kTwiddle[n].s)};
  return t;
}();

constexpr std::array<std::uint16_t, kFftSize> kBitReversed = [] {
  std::array<std::uint16_t, kFftSize> t{};
  for (unsigned i = 0; i < kFftSize; ++i) {
    unsigned r = 0;
    for (int b = 0; b < 10; ++b) r |= ((i >> b) & 1u) << (9 - b);
    t[i] = static_cast<std::uint16_t>(r);
  }
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

Q24 Sub(Q24 a, Q24 b) { return saturate_i32(static_cast<std::int64_t>(a) - b); }

}  // namespace

const std::array<Q24, kFftSize> kFftWindow = [] {
  std::array<Q24, kFftSize> h{};
  constexpr double kGain = 1.6329931618554520654;  // sqrt(8/3)
  for (int k = 0; k < kFftSize; ++k) {
    const double v = kGain * 0.5 * (1.0 - kTwiddle[static_cast<std::size_t>(k % 512)].c * (k < 512 ? 1.0 : -1.0)) / kFftSize;
    h[static_cast<std::size_t>(k)] = static_cast<Q24>(v * 16777216.0);  // truncated, as the model's numbers are
  }
  return h;
}();

namespace {

// Twiddles of the stages with half-size 2, 4, .. 512, one after the other:
// the stage of half-size h starts at h - 2 and holds cos, sin of 2 pi j / 2h.
struct StageTwiddles {
  std::array<Q24, kFftSize> c;
  std::array<Q24, kFftSize> s;
};

constexpr StageTwiddles kStageTwiddles = [] {
  StageTwiddles t{};
  for (std::size_t half = 2; half < kFftSize; half *= 2) {
    for (std::size_t j = 0; j < half; ++j) {
      t.c[half - 2 + j] = kTwiddleQ24[j * (kFftSize / (2 * half))].c;
      t.s[half - 2 + j] = kTwiddleQ24[j * (kFftSize / (2 * half))].s;
    }
  }
  return t;
}();

// The radix-2 stages after the first, as plain loops the compiler vectorises.
[[gnu::always_inline]] inline void FftStages(Q24* re, Q24* im) {
  for (std::size_t half = 2; half < kFftSize; half *= 2) {
    const Q24* wc = kStageTwiddles.c.data() + half - 2;
    const Q24* ws = kStageTwiddles.s.data() + half - 2;
    for (std::size_t base = 0; base < kFftSize; base += 2 * half) {
      Q24* ar = re + base;
      Q24* ai = im + base;
      Q24* br = ar + half;
      Q24* bi = ai + half;
      for (std::size_t j = 0; j < half; ++j) {
        // (b_re + i b_im)(cos - i sin), each product rounded
        const Q24 tr = mul_q24(br[j], wc[j]) + mul_q24(bi[j], ws[j]);
        const Q24 ti = mul_q24(bi[j], wc[j]) - mul_q24(br[j], ws[j]);
        br[j] = ar[j] - tr;
        bi[j] = ai[j] - ti;
        ar[j] += tr;
        ai[j] += ti;
      }
    }
  }
}

void FftStagesPlain(Q24* re, Q24* im) { FftStages(re, im); }

#if KELVOR_MPEGENC_AVX2
// The same stages, eight butterflies at a time from half-size 8 on.
__attribute__((target("avx2"))) void FftStagesAvx2(Q24* re, Q24* im) {
  using namespace simd;
  // Half-size 2 and 4: twiddles 1 and -i need no products (their rounded
  // products are exact), the rest is scalar.
  const auto butterfly = [](Q24& ar, Q24& ai, Q24& br, Q24& bi, Q24 tr, Q24 ti) {
    br = ar - tr;
    bi = ai - ti;
    ar += tr;
    ai += ti;
  };
  for (std::size_t base = 0; base < kFftSize; base += 4) {
    butterfly(re[base], im[base], re[base + 2], im[base + 2], re[base + 2], im[base + 2]);
    butterfly(re[base + 1], im[base + 1], re[base + 3], im[base + 3], im[base + 3], -re[base + 3]);
  }
  for (std::size_t base = 0; base < kFftSize; base += 8) {
    butterfly(re[base], im[base], re[base + 4], im[base + 4], re[base + 4], im[base + 4]);
    butterfly(re[base + 2], im[base + 2], re[base + 6], im[base + 6], im[base + 6], -re[base + 6]);
    for (const std::size_t j : {std::size_t{1}, std::size_t{3}}) {
      const Q24 c = kStageTwiddles.c[2 + j];
      const Q24 sn = kStageTwiddles.s[2 + j];
      const Q24 xr = re[base + 4 + j];
      const Q24 xi = im[base + 4 + j];
      butterfly(re[base + j], im[base + j], re[base + 4 + j], im[base + 4 + j], mul_q24(xr, c) + mul_q24(xi, sn),
                mul_q24(xi, c) - mul_q24(xr, sn));
    }
  }
  for (std::size_t half = 8; half < kFftSize; half *= 2) {
    const Q24* wc = kStageTwiddles.c.data() + half - 2;
    const Q24* ws = kStageTwiddles.s.data() + half - 2;
    for (std::size_t base = 0; base < kFftSize; base += 2 * half) {
      Q24* ar = re + base;
      Q24* ai = im + base;
      Q24* br = ar + half;
      Q24* bi = ai + half;
      for (std::size_t j = 0; j < half; j += 8) {
        const __m256i c = Load8(wc + j);
        const __m256i s = Load8(ws + j);
        const __m256i xr = Load8(br + j);
        const __m256i xi = Load8(bi + j);
        const __m256i tr = _mm256_add_epi32(MulQ24x8(xr, c), MulQ24x8(xi, s));
        const __m256i ti = _mm256_sub_epi32(MulQ24x8(xi, c), MulQ24x8(xr, s));
        const __m256i pr = Load8(ar + j);
        const __m256i pi = Load8(ai + j);
        Store8(br + j, _mm256_sub_epi32(pr, tr));
        Store8(bi + j, _mm256_sub_epi32(pi, ti));
        Store8(ar + j, _mm256_add_epi32(pr, tr));
        Store8(ai + j, _mm256_add_epi32(pi, ti));
      }
    }
  }
}
// GCC 12 warns of the unset operand its own AVX-512 headers use on purpose (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The same with sixteen butterflies at a time from half-size 16 on.
__attribute__((target("avx512f"))) void FftStagesAvx512(Q24* re, Q24* im) {
  using namespace simd;
  // Half-size 2 and 4: twiddles 1 and -i need no products (their rounded
  // products are exact), the rest is scalar.
  const auto butterfly = [](Q24& ar, Q24& ai, Q24& br, Q24& bi, Q24 tr, Q24 ti) {
    br = ar - tr;
    bi = ai - ti;
    ar += tr;
    ai += ti;
  };
  for (std::size_t base = 0; base < kFftSize; base += 4) {
    butterfly(re[base], im[base], re[base + 2], im[base + 2], re[base + 2], im[base + 2]);
    butterfly(re[base + 1], im[base + 1], re[base + 3], im[base + 3], im[base + 3], -re[base + 3]);
  }
  for (std::size_t base = 0; base < kFftSize; base += 8) {
    butterfly(re[base], im[base], re[base + 4], im[base + 4], re[base + 4], im[base + 4]);
    butterfly(re[base + 2], im[base + 2], re[base + 6], im[base + 6], im[base + 6], -re[base + 6]);
    for (const std::size_t j : {std::size_t{1}, std::size_t{3}}) {
      const Q24 c = kStageTwiddles.c[2 + j];
      const Q24 sn = kStageTwiddles.s[2 + j];
      const Q24 xr = re[base + 4 + j];
      const Q24 xi = im[base + 4 + j];
      butterfly(re[base + j], im[base + j], re[base + 4 + j], im[base + 4 + j], mul_q24(xr, c) + mul_q24(xi, sn),
                mul_q24(xi, c) - mul_q24(xr, sn));
    }
  }
  for (std::size_t half = 8; half < kFftSize; half *= 2) {
    const Q24* wc = kStageTwiddles.c.data() + half - 2;
    const Q24* ws = kStageTwiddles.s.data() + half - 2;
    for (std::size_t base = 0; base < kFftSize; base += 2 * half) {
      Q24* ar = re + base;
      Q24* ai = im + base;
      Q24* br = ar + half;
      Q24* bi = ai + half;
      if (half == 8) {
        const __m256i c = Load8(wc);
        const __m256i s = Load8(ws);
        const __m256i xr = Load8(br);
        const __m256i xi = Load8(bi);
        const __m256i tr = _mm256_add_epi32(MulQ24x8(xr, c), MulQ24x8(xi, s));
        const __m256i ti = _mm256_sub_epi32(MulQ24x8(xi, c), MulQ24x8(xr, s));
        const __m256i pr = Load8(ar);
        const __m256i pi = Load8(ai);
        Store8(br, _mm256_sub_epi32(pr, tr));
        Store8(bi, _mm256_sub_epi32(pi, ti));
        Store8(ar, _mm256_add_epi32(pr, tr));
        Store8(ai, _mm256_add_epi32(pi, ti));
        continue;
      }
      for (std::size_t j = 0; j < half; j += 16) {
        const __m512i c = Load16(wc + j);
        const __m512i s = Load16(ws + j);
        const __m512i xr = Load16(br + j);
        const __m512i xi = Load16(bi + j);
        const __m512i tr = _mm512_add_epi32(MulQ24x16(xr, c), MulQ24x16(xi, s));
        const __m512i ti = _mm512_sub_epi32(MulQ24x16(xi, c), MulQ24x16(xr, s));
        const __m512i pr = Load16(ar + j);
        const __m512i pi = Load16(ai + j);
        Store16(br + j, _mm512_sub_epi32(pr, tr));
        Store16(bi + j, _mm512_sub_epi32(pi, ti));
        Store16(ar + j, _mm512_add_epi32(pr, tr));
        Store16(ai + j, _mm512_add_epi32(pi, ti));
      }
    }
  }
}
#pragma GCC diagnostic pop
#endif

#if KELVOR_MPEGENC_AVX2
// GCC 12 warns of the unset operand its own AVX-512 headers use on purpose (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The window products in natural order, sixteen at a time.
__attribute__((target("avx512f"))) void WindowAvx512(const Q24* samples, Q24* out) {
  for (std::size_t i = 0; i < kFftSize; i += 16) {
    simd::Store16(out + i, simd::MulQ24x16(simd::Load16(samples + i), simd::Load16(kFftWindow.data() + i)));
  }
}

// levelOfComplex of lines 0 .. count - 1, eight at a time (the rest plain).
__attribute__((target("avx512f,avx512cd,avx512dq"))) void LevelsAvx512(const Q24* re, const Q24* im, Q24* out,
                                                                       std::size_t count) {
  const __m512i one = _mm512_set1_epi64(kQ24One);
  const __m512i floor = _mm512_set1_epi64(kLevelFloor);
  std::size_t k = 0;
  for (; k + 8 <= count; k += 8) {
    const __m512i r = _mm512_cvtepi32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(re + k)));
    const __m512i i = _mm512_cvtepi32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(im + k)));
    const __m512i p = _mm512_add_epi64(_mm512_mul_epi32(r, r), _mm512_mul_epi32(i, i));
    const __m512i e = _mm512_sub_epi64(_mm512_set1_epi64(63), _mm512_lzcnt_epi64(p));
    const __mmask8 big = _mm512_cmpge_epi64_mask(e, _mm512_set1_epi64(24));
    const __m512i d = _mm512_mask_blend_epi64(big, _mm512_sllv_epi64(p, _mm512_sub_epi64(_mm512_set1_epi64(24), e)),
                                              _mm512_srlv_epi64(p, _mm512_sub_epi64(e, _mm512_set1_epi64(24))));
    const __m512i num = _mm512_mul_epi32(_mm512_sub_epi64(d, one), _mm512_set1_epi64(3 * kQ24One));
    const __m512d q = _mm512_div_pd(_mm512_cvtepi64_pd(num), _mm512_cvtepi64_pd(_mm512_add_epi64(d, one)));
    __m512i level = _mm512_add_epi64(_mm512_slli_epi64(_mm512_sub_epi64(e, _mm512_set1_epi64(48)), 24), _mm512_cvttpd_epi64(q));
    level = _mm512_max_epi64(level, floor);
    level = _mm512_mask_blend_epi64(_mm512_cmpeq_epi64_mask(p, _mm512_setzero_si512()), level, floor);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm512_cvtepi64_epi32(level));
  }
  for (; k < count; ++k) out[k] = levelOfComplex(re[k], im[k]);
}
#pragma GCC diagnostic pop
#endif

}  // namespace

void PsychoModel::Transform(std::span<const Q24, kFftSize> samples) {
#if KELVOR_MPEGENC_AVX2
  const bool wide = simd_ == SimdLevel::kAvx512;
#else
  const bool wide = false;
#endif
  if (wide) {
    std::array<Q24, kFftSize> windowed;
    WindowAvx512(samples.data(), windowed.data());
    for (std::size_t i = 0; i < kFftSize; ++i) re_[i] = windowed[kBitReversed[i]];
  } else {
    for (std::size_t i = 0; i < kFftSize; ++i) {
      const std::size_t from = kBitReversed[i];
      re_[i] = mul_q24(samples[from], kFftWindow[from]);
    }
  }
  im_.fill(0);
  for (std::size_t i = 0; i < kFftSize; i += 2) {  // first stage: twiddle 1
    const Q24 ar = re_[i];
    const Q24 br = re_[i + 1];
    re_[i] = ar + br;
    re_[i + 1] = ar - br;
  }
#if KELVOR_MPEGENC_AVX2
  if (wide) {
    FftStagesAvx512(re_.data(), im_.data());
    LevelsAvx512(re_.data(), im_.data(), spectrum_.data(), kSpectrumLines);
    return;
  }
  if (simd_ == SimdLevel::kAvx2) {
    FftStagesAvx2(re_.data(), im_.data());
  } else {
    FftStagesPlain(re_.data(), im_.data());
  }
#else
  FftStagesPlain(re_.data(), im_.data());
#endif
  for (std::size_t k = 0; k < kSpectrumLines; ++k) spectrum_[k] = levelOfComplex(re_[k], im_[k]);
}

namespace {

// Lines 2..432 that are local maxima standing 7 dB above the lines two away:
// every tonal line is one, and most noise peaks are not.
using LineSet = std::array<std::uint64_t, (kSpectrumLines + 63) / 64>;

bool TonalCandidate(const Q24* x, int k) {
  const Q24 limit = x[k] - kTonalMargin;  // levels are at least the floor: no overflow
  return x[k - 1] < x[k] && x[k + 1] < x[k] && limit >= x[k - 2] && limit >= x[k + 2];
}

void TonalCandidatesPlain(const Q24* x, LineSet& set) {
  for (int k = 2; k <= 432; ++k) {
    if (TonalCandidate(x, k)) set[static_cast<std::size_t>(k / 64)] |= std::uint64_t{1} << (k % 64);
  }
}

#if KELVOR_MPEGENC_AVX2
__attribute__((target("avx512f"))) void TonalCandidatesAvx512(const Q24* x, LineSet& set) {
  const __m512i margin = _mm512_set1_epi32(kTonalMargin);
  for (int k0 = 2; k0 <= 432; k0 += 16) {
    const __m512i c = simd::Load16(x + k0);
    const __m512i limit = _mm512_sub_epi32(c, margin);
    __mmask16 m = _mm512_cmplt_epi32_mask(simd::Load16(x + k0 - 1), c) & _mm512_cmplt_epi32_mask(simd::Load16(x + k0 + 1), c) &
                  _mm512_cmpge_epi32_mask(limit, simd::Load16(x + k0 - 2)) & _mm512_cmpge_epi32_mask(limit, simd::Load16(x + k0 + 2));
    if (k0 + 15 > 432) m &= static_cast<__mmask16>((1u << (432 - k0 + 1)) - 1);
    const std::uint64_t bits = static_cast<std::uint64_t>(m) << (k0 % 64);
    set[static_cast<std::size_t>(k0 / 64)] |= bits;
    if (k0 % 64 > 48) set[static_cast<std::size_t>(k0 / 64 + 1)] |= static_cast<std::uint64_t>(m) >> (64 - k0 % 64);
  }
}
#endif

}  // namespace

void PsychoModel::FindTonal() {
  const auto& x = spectrum_;
  remaining_ = spectrum_;
  isTonal_.fill(false);
  tonalCount_ = 0;
  LineSet candidates{};
#if KELVOR_MPEGENC_AVX2
  if (simd_ == SimdLevel::kAvx512) {
    TonalCandidatesAvx512(x.data(), candidates);
  } else {
    TonalCandidatesPlain(x.data(), candidates);
  }
#else
  TonalCandidatesPlain(x.data(), candidates);
#endif
  for (std::size_t word = 0; word < candidates.size(); ++word) {
    for (std::uint64_t bits = candidates[word]; bits != 0; bits &= bits - 1) {
      const int k = static_cast<int>(64 * word) + std::countr_zero(bits);
      const auto at = [&](int line) { return x[static_cast<std::size_t>(line)]; };
      const int range = TonalRange(k);
      const Q24 limit = Sub(at(k), kTonalMargin);
      bool tonal = true;
      for (int j = 3; j <= range && tonal; ++j) tonal = limit >= at(k + j) && limit >= at(k - j);
      if (!tonal) continue;
      Q24 level = at(k);
      if (k <= 254) level = levelAdd(at(k), levelAdd(at(k + 1), at(k - 1)));
      tonalLine_[static_cast<std::size_t>(tonalCount_)] = static_cast<std::int16_t>(k);
      tonalLevel_[static_cast<std::size_t>(tonalCount_)] = level;
      ++tonalCount_;
      isTonal_[static_cast<std::size_t>(k)] = true;
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
  for (const int hi : kCriticalBandEdges) {
    Q24 peak = kLevelFloor;
    for (int k = lo; k < hi; ++k) {
      if (!isTonal_[static_cast<std::size_t>(k)]) peak = std::max(peak, remaining_[static_cast<std::size_t>(k)]);
    }
    Q24 level = kLevelFloor;
    int line = (lo + hi - 1) / 2;
    if (peak > kLevelFloor) {
      // Powers relative to the band's peak, and their first moment for the position.
      std::int64_t sum = 0;
      std::int64_t moment = 0;
      for (int k = lo; k < hi; ++k) {
        if (isTonal_[static_cast<std::size_t>(k)] || remaining_[static_cast<std::size_t>(k)] <= kLevelFloor) continue;
        const Q24 p = levelToLinear(Sub(remaining_[static_cast<std::size_t>(k)], peak));
        sum += p;
        moment += static_cast<std::int64_t>(p) * k;
      }
      level = add_sat_q24(peak, LevelOfUnsigned(static_cast<std::uint64_t>(sum), 24));
      line = static_cast<int>((moment + sum / 2) / sum);
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
    const auto& index = kReducedIndex[kReducedOfLine[static_cast<std::size_t>(cur.line)]];
    if (cur.level < index.threshold) continue;
    if (cur.tonal && lastTonal >= 0) {
      Masker& prev = maskers_[static_cast<std::size_t>(lastTonal)];
      const Q24 prevBark = kReducedIndex[kReducedOfLine[static_cast<std::size_t>(prev.line)]].bark;
      if (Sub(index.bark, prevBark) < kTonalMinSpacing) {
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

namespace {

// The spreading of one masker to one index at dz Bark from it (-3 <= dz < 8).
Q24 SpreadAt(Q24 dz, Q24 below, Q24 farSlope) {
  if (dz < -kBark) return Sub(mul_q24(kSpreadMinimum, dz + kBark), below);
  if (dz < 0) return mul_q24(below, dz);
  if (dz < kBark) return mul_q24(kSpreadAbove, dz);
  return add_sat_q24(mul_q24(dz - kBark, farSlope), kSpreadAbove);
}

#if KELVOR_MPEGENC_AVX2
using simd::MulQ24x8;

__attribute__((target("avx2"))) __m256i AddSat8(__m256i a, __m256i b) {
  const __m256i r = _mm256_add_epi32(a, b);
  const __m256i overflow = _mm256_and_si256(_mm256_xor_si256(a, r), _mm256_xor_si256(b, r));
  const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(0x7FFFFFFF));
  return _mm256_blendv_epi8(r, limit, _mm256_srai_epi32(overflow, 31));
}

__attribute__((target("avx2"))) __m256i SubSat8(__m256i a, __m256i b) {
  const __m256i r = _mm256_sub_epi32(a, b);
  const __m256i overflow = _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, r));
  const __m256i limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(0x7FFFFFFF));
  return _mm256_blendv_epi8(r, limit, _mm256_srai_epi32(overflow, 31));
}

// levelAddScaled(a, b, 2) in eight lanes, as the scalar code computes it.
__attribute__((target("avx2"))) __m256i LevelAddAmplitudes8(__m256i a, __m256i b) {
  const __m256i hi = _mm256_max_epi32(a, b);
  const __m256i lo = _mm256_min_epi32(a, b);
  const __m256i atFloor = _mm256_cmpgt_epi32(_mm256_set1_epi32(kLevelFloor + 1), lo);
  const __m256i x = _mm256_srli_epi32(_mm256_sub_epi32(hi, lo), 1);  // garbage where lo is at the floor
  const __m256i far = _mm256_cmpgt_epi32(x, _mm256_set1_epi32((32 << 24) - 1));
  const __m256i index = _mm256_min_epi32(_mm256_srli_epi32(x, 18), _mm256_set1_epi32(2047));
  const __m256i frac = _mm256_and_si256(x, _mm256_set1_epi32((1 << 18) - 1));
  const __m256i ta = _mm256_i32gather_epi32(kLevelAddTable.data(), index, 4);
  const __m256i tb = _mm256_i32gather_epi32(kLevelAddTable.data() + 1, index, 4);
  const __m256i d = _mm256_sub_epi32(tb, ta);
  // (d * frac) >> 18 per lane; the result fits 32 bits.
  const __m256i even = _mm256_srli_epi64(_mm256_mul_epi32(d, frac), 18);
  const __m256i odd = _mm256_slli_epi64(_mm256_mul_epi32(_mm256_srli_epi64(d, 32), _mm256_srli_epi64(frac, 32)), 14);
  const __m256i corr = _mm256_andnot_si256(far, _mm256_add_epi32(ta, _mm256_blend_epi32(even, odd, 0xAA)));
  const __m256i sum = _mm256_add_epi32(hi, _mm256_add_epi32(corr, corr));
  return _mm256_blendv_epi8(sum, hi, atFloor);
}

// Critical band rates of the reduced indices, padded to 128 with rates no
// masker reaches.
constexpr std::array<Q24, 128> kBarkPadded = [] {
  std::array<Q24, 128> t{};
  for (std::size_t i = 0; i < t.size(); ++i) t[i] = i < kReducedIndices ? kReducedIndex[i].bark : 100 * kBark;
  return t;
}();

// Eight indices at a time, every masker that reaches any of them in order.
__attribute__((target("avx2"))) void SpreadMaskersAvx2(const Q24* bark, const Q24* base, const Q24* below,
                                                       const Q24* farSlope, const std::uint16_t* first,
                                                       const std::uint16_t* end, Q24* global) {
  const __m256i one = _mm256_set1_epi32(kBark);
  for (std::size_t i0 = 0; i0 < kReducedIndices; i0 += 8) {
    const __m256i zi = simd::Load8(kBarkPadded.data() + i0);
    __m256i g = _mm256_set1_epi32(kLevelFloor);
    const std::size_t last = std::min<std::size_t>(i0 + 7, kReducedIndices - 1);
    for (std::size_t m = first[i0]; m < end[last]; ++m) {
      const __m256i dz = _mm256_sub_epi32(zi, _mm256_set1_epi32(bark[m]));
      const __m256i valid = _mm256_andnot_si256(_mm256_cmpgt_epi32(_mm256_set1_epi32(-3 * kBark), dz),
                                                _mm256_cmpgt_epi32(_mm256_set1_epi32(8 * kBark), dz));
      const __m256i s = _mm256_set1_epi32(below[m]);
      const __m256i v1 = SubSat8(MulQ24x8(_mm256_set1_epi32(kSpreadMinimum), _mm256_add_epi32(dz, one)), s);
      const __m256i v2 = MulQ24x8(s, dz);
      const __m256i v3 = MulQ24x8(_mm256_set1_epi32(kSpreadAbove), dz);
      const __m256i v4 = AddSat8(MulQ24x8(_mm256_sub_epi32(dz, one), _mm256_set1_epi32(farSlope[m])),
                                 _mm256_set1_epi32(kSpreadAbove));
      __m256i vf = _mm256_blendv_epi8(v4, v3, _mm256_cmpgt_epi32(one, dz));
      vf = _mm256_blendv_epi8(vf, v2, _mm256_cmpgt_epi32(_mm256_setzero_si256(), dz));
      vf = _mm256_blendv_epi8(vf, v1, _mm256_cmpgt_epi32(_mm256_set1_epi32(-kBark), dz));
      const __m256i lt = AddSat8(_mm256_set1_epi32(base[m]), vf);
      g = _mm256_blendv_epi8(g, LevelAddAmplitudes8(g, lt), valid);
    }
    simd::Store8(global + i0, g);
  }
}
// GCC 12 warns of the unset operand its own AVX-512 headers use on purpose (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

__attribute__((target("avx512f"))) __m512i AddSat16(__m512i a, __m512i b) {
  const __m512i r = _mm512_add_epi32(a, b);
  const __mmask16 overflow = _mm512_cmplt_epi32_mask(_mm512_and_si512(_mm512_xor_si512(a, r), _mm512_xor_si512(b, r)),
                                                     _mm512_setzero_si512());
  return _mm512_mask_blend_epi32(overflow, r, _mm512_xor_si512(_mm512_srai_epi32(a, 31), _mm512_set1_epi32(0x7FFFFFFF)));
}

__attribute__((target("avx512f"))) __m512i SubSat16(__m512i a, __m512i b) {
  const __m512i r = _mm512_sub_epi32(a, b);
  const __mmask16 overflow = _mm512_cmplt_epi32_mask(_mm512_and_si512(_mm512_xor_si512(a, b), _mm512_xor_si512(a, r)),
                                                     _mm512_setzero_si512());
  return _mm512_mask_blend_epi32(overflow, r, _mm512_xor_si512(_mm512_srai_epi32(a, 31), _mm512_set1_epi32(0x7FFFFFFF)));
}

// levelAddScaled(a, b, 2) in sixteen lanes.
__attribute__((target("avx512f"))) __m512i LevelAddAmplitudes16(__m512i a, __m512i b) {
  const __m512i hi = _mm512_max_epi32(a, b);
  const __m512i lo = _mm512_min_epi32(a, b);
  const __mmask16 atFloor = _mm512_cmple_epi32_mask(lo, _mm512_set1_epi32(kLevelFloor));
  const __m512i x = _mm512_srli_epi32(_mm512_sub_epi32(hi, lo), 1);
  const __mmask16 near = _mm512_cmplt_epi32_mask(x, _mm512_set1_epi32(32 << 24));
  const __m512i index = _mm512_min_epi32(_mm512_srli_epi32(x, 18), _mm512_set1_epi32(2047));
  const __m512i frac = _mm512_and_si512(x, _mm512_set1_epi32((1 << 18) - 1));
  const __m512i ta = _mm512_i32gather_epi32(index, kLevelAddTable.data(), 4);
  const __m512i tb = _mm512_i32gather_epi32(index, kLevelAddTable.data() + 1, 4);
  const __m512i d = _mm512_sub_epi32(tb, ta);
  const __m512i even = _mm512_srli_epi64(_mm512_mul_epi32(d, frac), 18);
  const __m512i odd = _mm512_slli_epi64(_mm512_mul_epi32(_mm512_srli_epi64(d, 32), _mm512_srli_epi64(frac, 32)), 14);
  const __m512i corr = _mm512_maskz_add_epi32(near, ta, _mm512_mask_blend_epi32(0xAAAA, even, odd));
  return _mm512_mask_blend_epi32(atFloor, _mm512_add_epi32(hi, _mm512_add_epi32(corr, corr)), hi);
}

__attribute__((target("avx512f"))) void SpreadMaskersAvx512(const Q24* bark, const Q24* base, const Q24* below, const Q24* farSlope,
                                           const std::uint16_t* first, const std::uint16_t* end, Q24* global) {
  const __m512i one = _mm512_set1_epi32(kBark);
  for (std::size_t i0 = 0; i0 < kReducedIndices; i0 += 16) {
    const __m512i zi = simd::Load16(kBarkPadded.data() + i0);
    __m512i g = _mm512_set1_epi32(kLevelFloor);
    const std::size_t last = std::min<std::size_t>(i0 + 15, kReducedIndices - 1);
    for (std::size_t m = first[i0]; m < end[last]; ++m) {
      const __m512i dz = _mm512_sub_epi32(zi, _mm512_set1_epi32(bark[m]));
      const __mmask16 valid = _mm512_cmpge_epi32_mask(dz, _mm512_set1_epi32(-3 * kBark)) &
                              _mm512_cmplt_epi32_mask(dz, _mm512_set1_epi32(8 * kBark));
      const __m512i s = _mm512_set1_epi32(below[m]);
      const __m512i v1 = SubSat16(simd::MulQ24x16(_mm512_set1_epi32(kSpreadMinimum), _mm512_add_epi32(dz, one)), s);
      const __m512i v2 = simd::MulQ24x16(s, dz);
      const __m512i v3 = simd::MulQ24x16(_mm512_set1_epi32(kSpreadAbove), dz);
      const __m512i v4 = AddSat16(simd::MulQ24x16(_mm512_sub_epi32(dz, one), _mm512_set1_epi32(farSlope[m])),
                                  _mm512_set1_epi32(kSpreadAbove));
      __m512i vf = _mm512_mask_blend_epi32(_mm512_cmplt_epi32_mask(dz, one), v4, v3);
      vf = _mm512_mask_blend_epi32(_mm512_cmplt_epi32_mask(dz, _mm512_setzero_si512()), vf, v2);
      vf = _mm512_mask_blend_epi32(_mm512_cmplt_epi32_mask(dz, _mm512_set1_epi32(-kBark)), vf, v1);
      const __m512i lt = AddSat16(_mm512_set1_epi32(base[m]), vf);
      g = _mm512_mask_blend_epi32(valid, g, LevelAddAmplitudes16(g, lt));
    }
    simd::Store16(global + i0, g);
  }
}
#pragma GCC diagnostic pop
#endif

}  // namespace

void PsychoModel::GlobalThreshold() {
  // The maskers in order of frequency (tonal and non-tonal are each in order).
  int tonalEnd = 0;
  while (tonalEnd < maskerCount_ && maskers_[static_cast<std::size_t>(tonalEnd)].tonal) ++tonalEnd;
  for (int m = 0, a = 0, b = tonalEnd; m < maskerCount_; ++m) {
    const bool takeTonal = a < tonalEnd && (b >= maskerCount_ || maskers_[static_cast<std::size_t>(a)].line <=
                                                                     maskers_[static_cast<std::size_t>(b)].line);
    const Masker& k = maskers_[static_cast<std::size_t>(takeTonal ? a++ : b++)];
    const Q24 z = kReducedIndex[kReducedOfLine[static_cast<std::size_t>(k.line)]].bark;
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
    const Q24 zi = kReducedIndex[i].bark;
    while (first < maskerCount_ && Sub(zi, spread_.bark[static_cast<std::size_t>(first)]) >= 8 * kBark) ++first;
    while (end < maskerCount_ && Sub(zi, spread_.bark[static_cast<std::size_t>(end)]) >= -3 * kBark) ++end;
    spreadFirst_[i] = static_cast<std::uint16_t>(first);
    spreadEnd_[i] = static_cast<std::uint16_t>(end);
  }
#if KELVOR_MPEGENC_AVX2
  if (simd_ == SimdLevel::kAvx512) {
    SpreadMaskersAvx512(spread_.bark.data(), spread_.base.data(), spread_.below.data(), spread_.farSlope.data(),
                        spreadFirst_.data(), spreadEnd_.data(), global_.data());
  } else if (simd_ == SimdLevel::kAvx2) {
    SpreadMaskersAvx2(spread_.bark.data(), spread_.base.data(), spread_.below.data(), spread_.farSlope.data(),
                      spreadFirst_.data(), spreadEnd_.data(), global_.data());
  } else
#endif
  {
    for (std::size_t i = 0; i < kReducedIndices; ++i) {
      Q24 global = kLevelFloor;
      for (std::size_t m = spreadFirst_[i]; m < spreadEnd_[i]; ++m) {
        const Q24 vf = SpreadAt(Sub(kReducedIndex[i].bark, spread_.bark[m]), spread_.below[m], spread_.farSlope[m]);
        global = levelAddScaled(global, add_sat_q24(spread_.base[m], vf), 2);
      }
      global_[i] = global;
    }
  }
  for (std::size_t i = 0; i < kReducedIndices; ++i) {
    global_[i] = levelAddScaled(global_[i], add_sat_q24(kReducedIndex[i].threshold, kQuietLowering), 3);
  }
}

void PsychoModel::Compute(std::span<const Q24, kFftSize> samples,
                          std::span<const std::uint8_t, kCodedSubbands> largestScaleFactor, std::span<Q24, kCodedSubbands> smr) {
  Transform(samples);
  FindTonal();
  FindNonTonal();
  Decimate();
  GlobalThreshold();
  for (std::size_t n = 0; n < kCodedSubbands; ++n) {
    Q24 peak = kLevelFloor;
    for (std::size_t k = 16 * n; k < 16 * n + 16; ++k) peak = std::max(peak, spectrum_[k]);
    const Q24 scaleLevel = kScaleFactorLevel[std::min<std::uint8_t>(largestScaleFactor[n], 63)];
    Q24 minimum = global_[kSubbandIndices[n].first];
    for (std::size_t i = kSubbandIndices[n].first; i < kSubbandIndices[n].end; ++i) minimum = std::min(minimum, global_[i]);
    smr[n] = Sub(std::max(peak, scaleLevel), minimum);
  }
}

}  // namespace kelvor::mpegenc
