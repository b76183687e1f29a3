#pragma once
// Q24 arithmetic on eight lanes for the AVX2 code paths: the same rounded
// products and saturating sums as the scalar helpers, lane by lane. Only
// for functions compiled with target("avx2") and called after checking
// that the processor has it.
#include <cstdint>

#include "common/q24.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KELVOR_HAVE_AVX2_PATH 1

namespace kelvor::ac3::avx2 {

using V = __m256i;

// Rounded Q24 products of eight lanes: the even and odd lanes' 64-bit
// products, each plus 2^23, keep bits 24..55 (the low word of the shifted
// product, as the scalar cast to 32 bits does): shifted down into the low
// word of an even lane, up into the high word of an odd one.
__attribute__((target("avx2"))) inline V mul_q24(V a, V b) {
  const V round = _mm256_set1_epi64x(std::int64_t{1} << 23);
  const V even = _mm256_srli_epi64(_mm256_add_epi64(_mm256_mul_epi32(a, b), round), 24);
  const V odd = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(b, 32)), round);
  return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 8), 0xAA);
}

// Saturation toward the sign of a where the sign bit of `overflow` is set.
__attribute__((target("avx2"))) inline V saturate(V a, V r, V overflow) {
  const V limit = _mm256_xor_si256(_mm256_srai_epi32(a, 31), _mm256_set1_epi32(0x7FFFFFFF));
  return _mm256_blendv_epi8(r, limit, _mm256_srai_epi32(overflow, 31));
}

__attribute__((target("avx2"))) inline V add_sat(V a, V b) {
  const V r = _mm256_add_epi32(a, b);
  return saturate(a, r, _mm256_and_si256(_mm256_xor_si256(a, r), _mm256_xor_si256(b, r)));
}

__attribute__((target("avx2"))) inline V sub_sat(V a, V b) {
  const V r = _mm256_sub_epi32(a, b);
  return saturate(a, r, _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_xor_si256(a, r)));
}

__attribute__((target("avx2"))) inline V load(const Q24* p) {
  return _mm256_loadu_si256(reinterpret_cast<const V*>(p));
}

__attribute__((target("avx2"))) inline void store(Q24* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }

// Whether the processor has AVX2 (asked once).
inline bool available() {
  static const bool yes = __builtin_cpu_supports("avx2") != 0;
  return yes;
}

}  // namespace kelvor::ac3::avx2

#endif
