#pragma once
// Eight-lane Q24 products for the encoder's AVX2 paths (filterbank window,
// FFT butterflies). Same rounding as mul_q24, lane by lane. Only for
// functions compiled with target("avx2") and reached after HaveAvx2().
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

#include <cstdint>

#define KELVOR_MPEGENC_AVX2 1

namespace kelvor::mpegenc::simd {

inline bool HaveAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2") != 0;
  return yes;
}

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

}  // namespace kelvor::mpegenc::simd
#endif
