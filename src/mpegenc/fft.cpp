#include "mpegenc/fft.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "mpegenc/analysis_window.h"
#include "mpegenc/level_math.h"
#include "mpegenc/simd.h"
#include "mpegenc/trig.h"

namespace kelvor::mpegenc {
namespace {

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
  std::array<Q24, kFftSize + 16> c;  // zeros after the last stage, for loads one element on
  std::array<Q24, kFftSize + 16> s;
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
// Half-size 2 and 4: twiddles 1 and -i need no products (their rounded
// products are exact), the rest is scalar.
[[gnu::always_inline]] inline void SmallStages(Q24* re, Q24* im) {
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
}

// Eight butterflies: a += t, b = a - t with t = b (cos - i sin), products rounded.
__attribute__((target("avx2"))) inline void Butterflies8(Q24* ar, Q24* ai, Q24* br, Q24* bi, const Q24* wc, const Q24* ws) {
  using namespace simd;
  const __m256i c = Load8(wc);
  const __m256i s = Load8(ws);
  const __m256i xr = Load8(br);
  const __m256i xi = Load8(bi);
  const __m256i co = Load8(wc + 1);  // the twiddle tables run on past every stage
  const __m256i so = Load8(ws + 1);
  const __m256i xro = LoadOddLanes8(br);
  const __m256i xio = LoadOddLanes8(bi);
  const __m256i tr = MulQ24PairX8<1>(xr, c, xi, s, xro, co, xio, so);
  const __m256i ti = MulQ24PairX8<-1>(xi, c, xr, s, xio, co, xro, so);
  const __m256i pr = Load8(ar);
  const __m256i pi = Load8(ai);
  Store8(br, _mm256_sub_epi32(pr, tr));
  Store8(bi, _mm256_sub_epi32(pi, ti));
  Store8(ar, _mm256_add_epi32(pr, tr));
  Store8(ai, _mm256_add_epi32(pi, ti));
}

// The same stages, eight butterflies at a time from half-size 8 on.
__attribute__((target("avx2"))) void FftStagesAvx2(Q24* re, Q24* im) {
  using namespace simd;
  SmallStages(re, im);
  for (std::size_t half = 8; half < kFftSize; half *= 2) {
    const Q24* wc = kStageTwiddles.c.data() + half - 2;
    const Q24* ws = kStageTwiddles.s.data() + half - 2;
    for (std::size_t base = 0; base < kFftSize; base += 2 * half) {
      Q24* ar = re + base;
      Q24* ai = im + base;
      Q24* br = ar + half;
      Q24* bi = ai + half;
      for (std::size_t j = 0; j < half; j += 8) {
        Butterflies8(ar + j, ai + j, br + j, bi + j, wc + j, ws + j);
      }
    }
  }
}
KELVOR_SIMD_DIAGNOSTIC_PUSH
// The same with sixteen butterflies at a time from half-size 16 on.
__attribute__((target("avx512f"))) void FftStagesAvx512(Q24* re, Q24* im) {
  using namespace simd;
  SmallStages(re, im);
  for (std::size_t half = 8; half < kFftSize; half *= 2) {
    const Q24* wc = kStageTwiddles.c.data() + half - 2;
    const Q24* ws = kStageTwiddles.s.data() + half - 2;
    for (std::size_t base = 0; base < kFftSize; base += 2 * half) {
      Q24* ar = re + base;
      Q24* ai = im + base;
      Q24* br = ar + half;
      Q24* bi = ai + half;
      if (half == 8) {
        Butterflies8(ar, ai, br, bi, wc, ws);
        continue;
      }
      for (std::size_t j = 0; j < half; j += 16) {
        const __m512i c = Load16(wc + j);
        const __m512i s = Load16(ws + j);
        const __m512i xr = Load16(br + j);
        const __m512i xi = Load16(bi + j);
        const __m512i co = Load16(wc + j + 1);
        const __m512i so = Load16(ws + j + 1);
        const __m512i xro = LoadOddLanes16(br + j);
        const __m512i xio = LoadOddLanes16(bi + j);
        const __m512i tr = MulQ24PairX16<1>(xr, c, xi, s, xro, co, xio, so);
        const __m512i ti = MulQ24PairX16<-1>(xi, c, xr, s, xio, co, xro, so);
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
KELVOR_SIMD_DIAGNOSTIC_PUSH
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

void WindowedSpectrum(std::span<const Q24, kFftSize> samples, std::span<Q24, kFftSize> re, std::span<Q24, kFftSize> im,
                      std::span<Q24> levels, SimdLevel simd) {
  simd = UsableSimd(simd);
#if KELVOR_MPEGENC_AVX2
  const bool wide = simd == SimdLevel::kAvx512;
#else
  const bool wide = false;
#endif
  if (wide) {
    std::array<Q24, kFftSize> windowed;
    WindowAvx512(samples.data(), windowed.data());
    for (std::size_t i = 0; i < kFftSize; ++i) re[i] = windowed[kBitReversed[i]];
  } else {
    for (std::size_t i = 0; i < kFftSize; ++i) {
      const std::size_t from = kBitReversed[i];
      re[i] = mul_q24(samples[from], kFftWindow[from]);
    }
  }
  std::fill(im.begin(), im.end(), 0);
  for (std::size_t i = 0; i < kFftSize; i += 2) {  // first stage: twiddle 1
    const Q24 ar = re[i];
    const Q24 br = re[i + 1];
    re[i] = ar + br;
    re[i + 1] = ar - br;
  }
#if KELVOR_MPEGENC_AVX2
  if (wide) {
    FftStagesAvx512(re.data(), im.data());
    LevelsAvx512(re.data(), im.data(), levels.data(), levels.size());
    return;
  }
  if (simd == SimdLevel::kAvx2) {
    FftStagesAvx2(re.data(), im.data());
  } else {
    FftStagesPlain(re.data(), im.data());
  }
#else
  FftStagesPlain(re.data(), im.data());
#endif
  for (std::size_t k = 0; k < levels.size(); ++k) levels[k] = levelOfComplex(re[k], im[k]);
}

}  // namespace kelvor::mpegenc
