#pragma once
// Eight- and sixteen-lane Q24 products for the encoder's AVX2 and AVX-512
// paths (filterbank, FFT butterflies). Same rounding as mul_q24, lane by
// lane. Only for functions compiled for that target and reached when
// UsableSimd() allows it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns of the unset operand its own AVX-512 headers use on purpose (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <cstdint>

#include "mpegenc/simd_level.h"

#define KELVOR_MPEGENC_AVX2 1

namespace kelvor::mpegenc::simd {

// (a * b + 2^23) >> 24 per 32-bit lane: even lanes from the products of the
// low halves, odd lanes from those of the high halves, each keeping bits 24..55.
__attribute__((target("avx2"))) inline __m256i MulQ24x8(__m256i a, __m256i b) {
  const __m256i round = _mm256_set1_epi64x(std::int64_t{1} << 23);
  const __m256i lo = _mm256_add_epi64(_mm256_mul_epi32(a, b), round);
  const __m256i hi = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(b, 32)), round);
  return _mm256_blend_epi32(_mm256_srli_epi64(lo, 24), _mm256_slli_epi64(hi, 8), 0xAA);
}

__attribute__((target("avx2"))) inline __m256i Load8(const std::int32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline void Store8(std::int32_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// The same in sixteen lanes.
__attribute__((target("avx512f"))) inline __m512i MulQ24x16(__m512i a, __m512i b) {
  const __m512i round = _mm512_set1_epi64(std::int64_t{1} << 23);
  const __m512i lo = _mm512_add_epi64(_mm512_mul_epi32(a, b), round);
  const __m512i hi = _mm512_add_epi64(_mm512_mul_epi32(_mm512_srli_epi64(a, 32), _mm512_srli_epi64(b, 32)), round);
  return _mm512_mask_blend_epi32(0xAAAA, _mm512_srli_epi64(lo, 24), _mm512_slli_epi64(hi, 8));
}

__attribute__((target("avx512f"))) inline __m512i Load16(const std::int32_t* p) { return _mm512_loadu_si512(p); }

__attribute__((target("avx512f"))) inline void Store16(std::int32_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

}  // namespace kelvor::mpegenc::simd
#endif
