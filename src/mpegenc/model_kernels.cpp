#include "mpegenc/model_kernels.h"

#include <algorithm>
#include <cstddef>

#include "mpegenc/level_math.h"
#include "mpegenc/model_tables.h"
#include "mpegenc/simd.h"

namespace kelvor::mpegenc::model {
namespace {

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

void AddQuietPlain(Q24* global, const Q24* quiet) {
  for (std::size_t i = 0; i < kReducedIndices; ++i) global[i] = levelAddScaled(global[i], quiet[i], 3);
}

NoiseBand SumNoiseBandPlain(const Q24* level, int lo, int hi) {
  NoiseBand r{kLevelFloor, 0, 0};
  for (int k = lo; k < hi; ++k) r.peak = std::max(r.peak, level[k]);
  if (r.peak <= kLevelFloor) return r;
  for (int k = lo; k < hi; ++k) {
    if (level[k] <= kLevelFloor) continue;
    const Q24 p = levelToLinear(SubSat(level[k], r.peak));
    r.sum += p;
    r.moment += static_cast<std::int64_t>(p) * k;
  }
  return r;
}

#if KELVOR_MPEGENC_AVX2
KELVOR_SIMD_DIAGNOSTIC_PUSH
// The peak sixteen lines at a time, then levelToLinear of eight lines at a
// time in 64-bit lanes. Relative to the peak every level is at most 0, so
// its power takes the shift to the right, and a shift of 63 or more gives 0
// as the scalar code does.
__attribute__((target("avx512f"))) NoiseBand SumNoiseBandAvx512(const Q24* level, int lo, int hi) {
  __m512i peak = _mm512_set1_epi32(kLevelFloor);
  for (int k = lo; k < hi; k += 16) {
    const auto m = static_cast<__mmask16>(hi - k >= 16 ? 0xFFFF : (1u << (hi - k)) - 1);
    peak = _mm512_mask_max_epi32(peak, m, peak, _mm512_maskz_loadu_epi32(m, level + k));
  }
  NoiseBand r{_mm512_reduce_max_epi32(peak), 0, 0};
  if (r.peak <= kLevelFloor) return r;
  const __m512i top = _mm512_set1_epi64(r.peak);
  const __m512i one = _mm512_set1_epi64(1);
  __m512i sum = _mm512_setzero_si512();
  __m512i moment = _mm512_setzero_si512();
  for (int k = lo; k < hi; k += 8) {
    const auto m = static_cast<__mmask8>(hi - k >= 8 ? 0xFF : (1u << (hi - k)) - 1);
    const __m512i v = _mm512_cvtepi32_epi64(_mm512_castsi512_si256(_mm512_maskz_loadu_epi32(m, level + k)));
    const __mmask8 use = m & _mm512_cmpgt_epi64_mask(v, _mm512_set1_epi64(kLevelFloor));
    const __m512i rel = _mm512_sub_epi64(v, top);  // no saturation needed: both are levels
    const __m512i frac = _mm512_and_si512(rel, _mm512_set1_epi64(0xFFFFFF));
    const __m512i index = _mm512_srli_epi64(frac, 16);
    const __m512i a = _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), use, index, kExp2Table.data(), 8);
    const __m512i b = _mm512_mask_i64gather_epi64(_mm512_setzero_si512(), use, _mm512_add_epi64(index, one), kExp2Table.data(), 8);
    const __m512i mantissa = _mm512_add_epi64(
        a, _mm512_srli_epi64(_mm512_mul_epu32(_mm512_sub_epi64(b, a), _mm512_and_si512(frac, _mm512_set1_epi64(0xFFFF))), 16));
    const __m512i shift = _mm512_sub_epi64(_mm512_set1_epi64(6), _mm512_srai_epi64(rel, 24));
    const __m512i rounded = _mm512_add_epi64(mantissa, _mm512_sllv_epi64(one, _mm512_sub_epi64(shift, one)));
    const __m512i p = _mm512_maskz_mov_epi64(use, _mm512_srlv_epi64(rounded, shift));
    const __m512i line = _mm512_add_epi64(_mm512_set1_epi64(k), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0));
    sum = _mm512_add_epi64(sum, p);
    moment = _mm512_add_epi64(moment, _mm512_mul_epi32(p, line));
  }
  r.sum = _mm512_reduce_add_epi64(sum);
  r.moment = _mm512_reduce_add_epi64(moment);
  return r;
}
#pragma GCC diagnostic pop
#endif

// The spreading of one masker to one index at dz Bark from it (-3 <= dz < 8).
Q24 SpreadAt(Q24 dz, Q24 below, Q24 farSlope) {
  if (dz < -kBark) return SubSat(mul_q24(kSpreadMinimum, dz + kBark), below);
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

// Eight indices at a time, every masker that reaches any of them in order.
__attribute__((target("avx2"))) void SpreadMaskersAvx2(const Q24* indexBark, const Q24* bark, const Q24* base, const Q24* below,
                                                       const Q24* farSlope, const std::uint16_t* first,
                                                       const std::uint16_t* end, Q24* global) {
  const __m256i one = _mm256_set1_epi32(kBark);
  for (std::size_t i0 = 0; i0 < kReducedIndices; i0 += 8) {
    const __m256i zi = simd::Load8(indexBark + i0);
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
KELVOR_SIMD_DIAGNOSTIC_PUSH

__attribute__((target("avx512f"))) __m512i AddSat16(__m512i a, __m512i b) {
  const __m512i r = _mm512_add_epi32(a, b);
  const __mmask16 overflow = _mm512_cmplt_epi32_mask(_mm512_and_si512(_mm512_xor_si512(a, r), _mm512_xor_si512(b, r)),
                                                     _mm512_setzero_si512());
  return _mm512_mask_blend_epi32(overflow, r, _mm512_xor_si512(_mm512_srai_epi32(a, 31), _mm512_set1_epi32(0x7FFFFFFF)));
}

// LevelAddCorrection of sixteen level differences 0 <= x < 2^31.
__attribute__((target("avx512f"))) __m512i LevelAddCorrection16(__m512i x) {
  const __mmask16 near = _mm512_cmplt_epi32_mask(x, _mm512_set1_epi32(32 << 24));
  const __m512i index = _mm512_min_epi32(_mm512_srli_epi32(x, 18), _mm512_set1_epi32(2047));
  const __m512i frac = _mm512_and_si512(x, _mm512_set1_epi32((1 << 18) - 1));
  const __m512i ta = _mm512_i32gather_epi32(index, kLevelAddTable.data(), 4);
  const __m512i tb = _mm512_i32gather_epi32(index, kLevelAddTable.data() + 1, 4);
  const __m512i d = _mm512_sub_epi32(tb, ta);
  const __m512i even = _mm512_srli_epi64(_mm512_mul_epi32(d, frac), 18);
  const __m512i odd = _mm512_slli_epi64(_mm512_mul_epi32(_mm512_srli_epi64(d, 32), _mm512_srli_epi64(frac, 32)), 14);
  return _mm512_maskz_add_epi32(near, ta, _mm512_mask_blend_epi32(0xAAAA, even, odd));
}

// levelAddScaled(a, b, 2) in sixteen lanes.
__attribute__((target("avx512f"))) __m512i LevelAddAmplitudes16(__m512i a, __m512i b) {
  const __m512i hi = _mm512_max_epi32(a, b);
  const __m512i lo = _mm512_min_epi32(a, b);
  const __mmask16 atFloor = _mm512_cmple_epi32_mask(lo, _mm512_set1_epi32(kLevelFloor));
  const __m512i corr = LevelAddCorrection16(_mm512_srli_epi32(_mm512_sub_epi32(hi, lo), 1));
  return _mm512_mask_blend_epi32(atFloor, _mm512_add_epi32(hi, _mm512_add_epi32(corr, corr)), hi);
}

// levelAddScaled(a, b, 3) in sixteen lanes. The difference of two levels
// above the floor fits 32 bits unsigned, and d / 3 = (d * 0xAAAAAAAB) >> 33
// for every such d.
__attribute__((target("avx512f"))) __m512i LevelAddCubeRoots16(__m512i a, __m512i b) {
  const __m512i hi = _mm512_max_epi32(a, b);
  const __m512i lo = _mm512_min_epi32(a, b);
  const __mmask16 atFloor = _mm512_cmple_epi32_mask(lo, _mm512_set1_epi32(kLevelFloor));
  const __m512i d = _mm512_sub_epi32(hi, lo);
  const __m512i magic = _mm512_set1_epi64(0xAAAAAAAB);
  const __m512i evenThird = _mm512_srli_epi64(_mm512_mul_epu32(d, magic), 33);
  const __m512i oddThird = _mm512_srli_epi64(_mm512_mul_epu32(_mm512_srli_epi64(d, 32), magic), 33);
  const __m512i corr = LevelAddCorrection16(_mm512_or_si512(evenThird, _mm512_slli_epi64(oddThird, 32)));
  // hi + 3 corr, saturated as the scalar code does (corr >= 0).
  const __m512i sum = _mm512_add_epi32(hi, _mm512_add_epi32(corr, _mm512_add_epi32(corr, corr)));
  const __mmask16 over = _mm512_cmplt_epi32_mask(sum, hi);
  return _mm512_mask_blend_epi32(atFloor, _mm512_mask_blend_epi32(over, sum, _mm512_set1_epi32(0x7FFFFFFF)), hi);
}

__attribute__((target("avx512f"))) void AddQuietAvx512(Q24* global, const Q24* quiet) {
  for (std::size_t i = 0; i < 128; i += 16) {
    simd::Store16(global + i, LevelAddCubeRoots16(simd::Load16(global + i), simd::Load16(quiet + i)));
  }
}

__attribute__((target("avx512f"))) void SpreadMaskersAvx512(const Q24* indexBark, const Q24* bark, const Q24* base, const Q24* below, const Q24* farSlope,
                                           const std::uint16_t* first, const std::uint16_t* end, Q24* global) {
  const __m512i one = _mm512_set1_epi32(kBark);
  for (std::size_t i0 = 0; i0 < kReducedIndices; i0 += 16) {
    const __m512i zi = simd::Load16(indexBark + i0);
    __m512i g = _mm512_set1_epi32(kLevelFloor);
    const std::size_t last = std::min<std::size_t>(i0 + 15, kReducedIndices - 1);
    for (std::size_t m = first[i0]; m < end[last]; ++m) {
      const __m512i dz = _mm512_sub_epi32(zi, _mm512_set1_epi32(bark[m]));
      const __mmask16 valid = _mm512_cmpge_epi32_mask(dz, _mm512_set1_epi32(-3 * kBark)) &
                              _mm512_cmplt_epi32_mask(dz, _mm512_set1_epi32(8 * kBark));
      // One product per lane, its operands and the term added after it
      // chosen by the lane's piece of the spreading function (adding -s
      // saturates as subtracting s does, s being positive).
      const __m512i s = _mm512_set1_epi32(below[m]);
      const __mmask16 near = _mm512_cmplt_epi32_mask(dz, one);                          // below 1 Bark
      const __mmask16 belowZero = _mm512_cmplt_epi32_mask(dz, _mm512_setzero_si512());  // below 0
      const __mmask16 far = _mm512_cmplt_epi32_mask(dz, _mm512_set1_epi32(-kBark));     // below -1 Bark
      __m512i factor = _mm512_mask_blend_epi32(near, _mm512_set1_epi32(farSlope[m]), _mm512_set1_epi32(kSpreadAbove));
      factor = _mm512_mask_blend_epi32(belowZero, factor, s);
      factor = _mm512_mask_blend_epi32(far, factor, _mm512_set1_epi32(kSpreadMinimum));
      const __m512i distance = _mm512_mask_add_epi32(_mm512_mask_sub_epi32(dz, static_cast<__mmask16>(~near), dz, one), far, dz, one);
      __m512i after = _mm512_maskz_mov_epi32(static_cast<__mmask16>(~near), _mm512_set1_epi32(kSpreadAbove));
      after = _mm512_mask_sub_epi32(after, far, _mm512_setzero_si512(), s);
      const __m512i vf = AddSat16(simd::MulQ24x16(distance, factor), after);
      const __m512i lt = AddSat16(_mm512_set1_epi32(base[m]), vf);
      g = _mm512_mask_blend_epi32(valid, g, LevelAddAmplitudes16(g, lt));
    }
    simd::Store16(global + i0, g);
  }
}
#pragma GCC diagnostic pop
#endif

}  // namespace

void FindTonalCandidates(const Q24* x, LineSet& set, SimdLevel simd) {
#if KELVOR_MPEGENC_AVX2
  if (UsableSimd(simd) == SimdLevel::kAvx512) {
    TonalCandidatesAvx512(x, set);
    return;
  }
#else
  (void)simd;
#endif
  TonalCandidatesPlain(x, set);
}

NoiseBand SumNoiseBand(const Q24* level, int lo, int hi, SimdLevel simd) {
#if KELVOR_MPEGENC_AVX2
  if (UsableSimd(simd) == SimdLevel::kAvx512) return SumNoiseBandAvx512(level, lo, hi);
#else
  (void)simd;
#endif
  return SumNoiseBandPlain(level, lo, hi);
}

void AddQuietThreshold(Q24* global, const Q24* quiet, SimdLevel simd) {
#if KELVOR_MPEGENC_AVX2
  if (UsableSimd(simd) == SimdLevel::kAvx512) {
    AddQuietAvx512(global, quiet);
    return;
  }
#else
  (void)simd;
#endif
  AddQuietPlain(global, quiet);
}

void SpreadMaskers(const Spreading& in, Q24* global, SimdLevel simd) {
  simd = UsableSimd(simd);
#if KELVOR_MPEGENC_AVX2
  if (simd == SimdLevel::kAvx512) {
    SpreadMaskersAvx512(in.indexBark, in.bark, in.base, in.below, in.farSlope, in.first, in.end, global);
    return;
  }
  if (simd == SimdLevel::kAvx2) {
    SpreadMaskersAvx2(in.indexBark, in.bark, in.base, in.below, in.farSlope, in.first, in.end, global);
    return;
  }
#endif
  for (std::size_t i = 0; i < kReducedIndices; ++i) {
    Q24 g = kLevelFloor;
    for (std::size_t m = in.first[i]; m < in.end[i]; ++m) {
      const Q24 vf = SpreadAt(SubSat(in.indexBark[i], in.bark[m]), in.below[m], in.farSlope[m]);
      g = levelAddScaled(g, add_sat_q24(in.base[m], vf), 2);
    }
    global[i] = g;
  }
}

}  // namespace kelvor::mpegenc::model
