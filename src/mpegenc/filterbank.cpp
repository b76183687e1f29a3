#include "mpegenc/filterbank.h"

#include <cstddef>

#include "mpegenc/analysis_window.h"
#include "mpegenc/simd.h"
#include "mpegenc/trig.h"

namespace kelvor::mpegenc {
namespace {

using Matrix = std::array<std::array<Q24, 64>, kSubbands>;

// Subbands sb and 31 - sb share their coefficients up to the sign (-1)^m of
// the term, and the terms around k = 16 and k = 48 pair up; building the
// table from the 16 lower subbands keeps those identities exact.
constexpr Matrix BuildMatrixing() {
  Matrix m{};
  for (int sb = 0; sb < 16; ++sb) {
    const int odd = 2 * sb + 1;
    const int sign = (sb % 2 == 0) ? 1 : -1;
    auto& lo = m[static_cast<std::size_t>(sb)];
    auto& hi = m[static_cast<std::size_t>(31 - sb)];
    for (int t = 0; t <= 16; ++t) {
      const Q24 c = RoundToQ24(CosSinOfTurns(odd * t, 128).c);
      const Q24 flip = (t % 2 == 0) ? c : -c;
      lo[static_cast<std::size_t>(16 + t)] = lo[static_cast<std::size_t>(16 - t)] = c;
      hi[static_cast<std::size_t>(16 + t)] = hi[static_cast<std::size_t>(16 - t)] = flip;
    }
    lo[48] = hi[48] = 0;
    for (int r = 1; r <= 15; ++r) {
      const Q24 s = RoundToQ24(CosSinOfTurns(odd * r, 128).s);
      const Q24 up = sign > 0 ? -s : s;  // M[sb][48 + r] = -(-1)^sb sin((2sb + 1) r pi / 64)
      const Q24 upHi = (r % 2 == 0) ? up : -up;
      lo[static_cast<std::size_t>(48 + r)] = up;
      lo[static_cast<std::size_t>(48 - r)] = -up;
      hi[static_cast<std::size_t>(48 + r)] = upHi;
      hi[static_cast<std::size_t>(48 - r)] = -upHi;
    }
  }
  return m;
}

constexpr Matrix kMatrix = BuildMatrixing();

// The folded matrixing: for subband sb < 16, the coefficients of the terms of
// even and of odd order; subband 31 - sb uses the same with the odd ones negated.
struct Folded {
  std::array<std::array<Q24, 16>, 16> even;
  std::array<std::array<Q24, 16>, 16> odd;
};

constexpr Folded BuildFolded() {
  Folded f{};
  for (std::size_t sb = 0; sb < 16; ++sb) {
    for (std::size_t i = 0; i < 9; ++i) f.even[sb][i] = kMatrix[sb][16 + 2 * i];       // c0, c2 .. c16
    for (std::size_t i = 0; i < 7; ++i) f.even[sb][9 + i] = kMatrix[sb][48 + 2 + 2 * i];  // d2 .. d14
    for (std::size_t i = 0; i < 8; ++i) {
      f.odd[sb][i] = kMatrix[sb][16 + 1 + 2 * i];  // c1 .. c15
      f.odd[sb][8 + i] = kMatrix[sb][48 + 1 + 2 * i];  // d1 .. d15
    }
  }
  return f;
}

constexpr Folded kFolded = BuildFolded();

// The window reversed, so that slot t multiplies pcm[32t + j] by it in order;
// zeros after it for the vector loads one element on.
constexpr std::array<Q24, 512 + 16> kWindowReversed = [] {
  std::array<Q24, 512 + 16> r{};
  for (std::size_t j = 0; j < 512; ++j) r[j] = kAnalysisWindow[511 - j];
  return r;
}();

constexpr Q24 RoundSum(std::int64_t v) { return saturate_i32((v + (std::int64_t{1} << 23)) >> 24); }

// The folded coefficients laid out [term][subband], so that the sums of the
// 16 lower subbands run side by side.
struct FoldedBySubband {
  std::array<std::array<std::int32_t, 16>, 16> even;
  std::array<std::array<std::int32_t, 16>, 16> odd;
};

constexpr FoldedBySubband kFoldedBySubband = [] {
  FoldedBySubband f{};
  for (std::size_t sb = 0; sb < 16; ++sb) {
    for (std::size_t i = 0; i < 16; ++i) {
      f.even[i][sb] = kFolded.even[sb][i];
      f.odd[i][sb] = kFolded.odd[sb][i];
    }
  }
  return f;
}();

// The 64 sums Y (held reversed: yr[63 - k] = Y[k]) folded into the terms of
// even order (c0, c2 .. c16, d2 .. d14) and of odd order (c1 .. c15,
// d1 .. d15), c[m] = Y[16 + m] + Y[16 - m] (c16 pairs k = 32 with k = 0),
// d[r] = Y[48 + r] - Y[48 - r].
[[gnu::always_inline]] inline void Fold(const std::array<std::int32_t, 64>& yr, std::array<std::int32_t, 16>& e,
                                        std::array<std::int32_t, 16>& o) {
  const auto y = [&](int k) { return yr[static_cast<std::size_t>(63 - k)]; };
  e[0] = y(16);
  for (int i = 1; i < 9; ++i) e[static_cast<std::size_t>(i)] = y(16 + 2 * i) + y(16 - 2 * i);
  for (int i = 0; i < 7; ++i) e[static_cast<std::size_t>(9 + i)] = y(50 + 2 * i) - y(46 - 2 * i);
  for (int i = 0; i < 8; ++i) {
    o[static_cast<std::size_t>(i)] = y(17 + 2 * i) + y(15 - 2 * i);
    o[static_cast<std::size_t>(8 + i)] = y(49 + 2 * i) - y(47 - 2 * i);
  }
}

// One slot: window (rounded products, summed in eight taps) and folded
// matrixing. Written as plain loops that the compiler vectorises; built once
// for AVX2 and once for any x86-64.
[[gnu::always_inline]] inline void SlotBody(const Q24* x, std::span<Q24, kSubbands> out) {
  // y[63 - k] = Y[k] = sum over m of X[k + 64m] w[k + 64m].
  std::array<std::int32_t, 64> yr{};
  for (std::size_t m = 0; m < 8; ++m) {
    for (std::size_t k = 0; k < 64; ++k) {
      const std::int64_t p = static_cast<std::int64_t>(x[64 * m + k]) * kWindowReversed[64 * m + k];
      yr[k] += static_cast<std::int32_t>((p + (std::int64_t{1} << 23)) >> 24);
    }
  }
  std::array<std::int32_t, 16> e;
  std::array<std::int32_t, 16> o;
  Fold(yr, e, o);
  std::array<std::int64_t, 16> even{};
  std::array<std::int64_t, 16> odd{};
  for (std::size_t i = 0; i < 16; ++i) {
    for (std::size_t sb = 0; sb < 16; ++sb) {
      even[sb] += static_cast<std::int64_t>(kFoldedBySubband.even[i][sb]) * e[i];
      odd[sb] += static_cast<std::int64_t>(kFoldedBySubband.odd[i][sb]) * o[i];
    }
  }
  for (std::size_t sb = 0; sb < 16; ++sb) {
    out[sb] = RoundSum(even[sb] + odd[sb]);
    out[31 - sb] = RoundSum(even[sb] - odd[sb]);
  }
}

void AnalyseFramePlain(const Q24* pcm, SubbandFrame& out) {
  for (std::size_t t = 0; t < kSlots; ++t) SlotBody(pcm + 32 * t, out[t]);
}

#if KELVOR_MPEGENC_AVX2
// The folded coefficients as 64-bit lanes for the 32 x 32 -> 64-bit products.
struct FoldedWide {
  std::array<std::array<std::int64_t, 16>, 16> even;
  std::array<std::array<std::int64_t, 16>, 16> odd;
};

constexpr FoldedWide kFoldedWide = [] {
  FoldedWide f{};
  for (std::size_t i = 0; i < 16; ++i) {
    for (std::size_t sb = 0; sb < 16; ++sb) {
      f.even[i][sb] = kFoldedBySubband.even[i][sb];
      f.odd[i][sb] = kFoldedBySubband.odd[i][sb];
    }
  }
  return f;
}();

__attribute__((target("avx2"))) void SlotAvx2(const Q24* x, std::span<Q24, kSubbands> out) {
  using namespace simd;
  alignas(32) std::array<std::int32_t, 64> yr;
  for (std::size_t k = 0; k < 64; k += 8) {
    __m256i acc = _mm256_setzero_si256();
    for (std::size_t m = 0; m < 8; ++m) {
      acc = _mm256_add_epi32(acc, MulQ24x8(Load8(x + 64 * m + k), Load8(kWindowReversed.data() + 64 * m + k)));
    }
    Store8(yr.data() + k, acc);
  }
  std::array<std::int32_t, 16> e;
  std::array<std::int32_t, 16> o;
  Fold(yr, e, o);
  __m256i even[4];
  __m256i odd[4];
  for (int v = 0; v < 4; ++v) even[v] = odd[v] = _mm256_setzero_si256();
  for (std::size_t i = 0; i < 16; ++i) {
    const __m256i ei = _mm256_set1_epi64x(e[i]);
    const __m256i oi = _mm256_set1_epi64x(o[i]);
    for (std::size_t v = 0; v < 4; ++v) {
      const auto* ce = reinterpret_cast<const __m256i*>(kFoldedWide.even[i].data() + 4 * v);
      const auto* co = reinterpret_cast<const __m256i*>(kFoldedWide.odd[i].data() + 4 * v);
      even[v] = _mm256_add_epi64(even[v], _mm256_mul_epi32(_mm256_loadu_si256(ce), ei));
      odd[v] = _mm256_add_epi64(odd[v], _mm256_mul_epi32(_mm256_loadu_si256(co), oi));
    }
  }
  alignas(32) std::array<std::int64_t, 16> se;
  alignas(32) std::array<std::int64_t, 16> so;
  for (std::size_t v = 0; v < 4; ++v) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(se.data() + 4 * v), even[v]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(so.data() + 4 * v), odd[v]);
  }
  for (std::size_t sb = 0; sb < 16; ++sb) {
    out[sb] = RoundSum(se[sb] + so[sb]);
    out[31 - sb] = RoundSum(se[sb] - so[sb]);
  }
}

__attribute__((target("avx2"))) void AnalyseFrameAvx2(const Q24* pcm, SubbandFrame& out) {
  for (std::size_t t = 0; t < kSlots; ++t) SlotAvx2(pcm + 32 * t, out[t]);
}

KELVOR_SIMD_DIAGNOSTIC_PUSH
// RoundSum in eight lanes: round, shift, narrow with saturation.
__attribute__((target("avx512f"))) __m256i RoundSum8(__m512i v) {
  return _mm512_cvtsepi64_epi32(_mm512_srai_epi64(_mm512_add_epi64(v, _mm512_set1_epi64(std::int64_t{1} << 23)), 24));
}

// The same with sixteen lanes for the window and eight for the matrixing.
__attribute__((target("avx512f"))) void SlotAvx512(const Q24* x, std::span<Q24, kSubbands> out) {
  using namespace simd;
  alignas(64) std::array<std::int32_t, 64> yr;
  const __m512i round = _mm512_set1_epi64(std::int64_t{1} << 23);
  for (std::size_t k = 0; k < 64; k += 16) {
    // Even lanes and odd lanes in 64-bit sums; only their low halves count,
    // and those a logical shift gives as well as an arithmetic one.
    __m512i even = _mm512_setzero_si512();
    __m512i odd = _mm512_setzero_si512();
    for (std::size_t m = 0; m < 8; ++m) {
      const Q24* at = x + 64 * m + k;
      const Q24* w = kWindowReversed.data() + 64 * m + k;
      // The last lane of the load one element on is never used: masked off,
      // so that it reads nothing past the input.
      const __m512i xOdd = _mm512_maskz_loadu_epi32(0x7FFF, at + 1);
      even = _mm512_add_epi64(even, _mm512_srli_epi64(_mm512_add_epi64(_mm512_mul_epi32(Load16(at), Load16(w)), round), 24));
      odd = _mm512_add_epi64(odd, _mm512_srli_epi64(_mm512_add_epi64(_mm512_mul_epi32(xOdd, Load16(w + 1)), round), 24));
    }
    Store16(yr.data() + k, _mm512_mask_blend_epi32(0xAAAA, even, _mm512_slli_epi64(odd, 32)));
  }
  std::array<std::int32_t, 16> e;
  std::array<std::int32_t, 16> o;
  Fold(yr, e, o);
  __m512i even[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
  __m512i odd[2] = {_mm512_setzero_si512(), _mm512_setzero_si512()};
  for (std::size_t i = 0; i < 16; ++i) {
    const __m512i ei = _mm512_set1_epi64(e[i]);
    const __m512i oi = _mm512_set1_epi64(o[i]);
    for (std::size_t v = 0; v < 2; ++v) {
      even[v] = _mm512_add_epi64(even[v], _mm512_mul_epi32(_mm512_loadu_si512(kFoldedWide.even[i].data() + 8 * v), ei));
      odd[v] = _mm512_add_epi64(odd[v], _mm512_mul_epi32(_mm512_loadu_si512(kFoldedWide.odd[i].data() + 8 * v), oi));
    }
  }
  const __m512i low = _mm512_inserti64x4(_mm512_castsi256_si512(RoundSum8(_mm512_add_epi64(even[0], odd[0]))),
                                         RoundSum8(_mm512_add_epi64(even[1], odd[1])), 1);
  const __m512i high = _mm512_inserti64x4(_mm512_castsi256_si512(RoundSum8(_mm512_sub_epi64(even[0], odd[0]))),
                                          RoundSum8(_mm512_sub_epi64(even[1], odd[1])), 1);
  const __m512i reversed = _mm512_set_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  Store16(out.data(), low);                                               // sb = 0..15
  Store16(out.data() + 16, _mm512_permutexvar_epi32(reversed, high));     // sb = 16..31: 31 - (0..15)
}

__attribute__((target("avx512f"))) void AnalyseFrameAvx512(const Q24* pcm, SubbandFrame& out) {
  for (std::size_t t = 0; t < kSlots; ++t) SlotAvx512(pcm + 32 * t, out[t]);
}
#pragma GCC diagnostic pop
#endif

}  // namespace

const std::array<std::array<Q24, 64>, kSubbands> kMatrixing = kMatrix;

void AnalyseFrame(std::span<const Q24> pcm, SubbandFrame& out, SimdLevel simd) {
  simd = UsableSimd(simd);
#if KELVOR_MPEGENC_AVX2
  if (simd == SimdLevel::kAvx512) {
    AnalyseFrameAvx512(pcm.data(), out);
    return;
  }
  if (simd == SimdLevel::kAvx2) {
    AnalyseFrameAvx2(pcm.data(), out);
    return;
  }
#endif
  AnalyseFramePlain(pcm.data(), out);
}

void AnalyseSlotDirect(std::span<const Q24, 512> x, std::span<Q24, kSubbands> out) {
  std::array<Q24, 64> y{};
  for (std::size_t k = 0; k < 64; ++k) {
    std::int64_t sum = 0;
    for (std::size_t j = 0; j < 8; ++j) sum += mul_q24(x[k + 64 * j], kAnalysisWindow[k + 64 * j]);
    y[k] = saturate_i32(sum);
  }
  for (std::size_t sb = 0; sb < kSubbands; ++sb) {
    std::int64_t sum = 0;
    for (std::size_t k = 0; k < 64; ++k) sum += mul_q24(kMatrix[sb][k], y[k]);
    out[sb] = saturate_i32(sum);
  }
}

}  // namespace kelvor::mpegenc
