#pragma once
// Eight- and sixteen-lane Q24 products for the encoder's AVX2 and AVX-512
// paths (filterbank, FFT butterflies). Same rounding as mul_q24, lane by
// lane. Only for functions compiled for that target and reached when
// UsableSimd() allows it.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// GCC 12 warns of the unset operand its own AVX-512 headers use on purpose
// (its bug 105593), in those headers and wherever their intrinsics are
// inlined. Each stretch of vector code opens with this and closes with
// `#pragma GCC diagnostic pop`; a macro, as a pragma cannot come from a
// function.
#if defined(__clang__)
#define KELVOR_SIMD_DIAGNOSTIC_PUSH _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"")
#else
#define KELVOR_SIMD_DIAGNOSTIC_PUSH                                                      \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wuninitialized\"") \
  _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#endif
KELVOR_SIMD_DIAGNOSTIC_PUSH
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

// One rounded product per 64-bit lane, in its low half (Low) or its high half (High).
__attribute__((target("avx2"))) inline __m256i RoundedLow8(__m256i a, __m256i b) {
  return _mm256_srli_epi64(_mm256_add_epi64(_mm256_mul_epi32(a, b), _mm256_set1_epi64x(std::int64_t{1} << 23)), 24);
}
__attribute__((target("avx2"))) inline __m256i RoundedHigh8(__m256i a, __m256i b) {
  return _mm256_slli_epi64(_mm256_add_epi64(_mm256_mul_epi32(a, b), _mm256_set1_epi64x(std::int64_t{1} << 23)), 8);
}

// a0 b0 + a1 b1 per lane (kSign -1: a0 b0 - a1 b1), each product rounded,
// for operands loaded twice: at the element itself (…e: the even lanes, from
// the low halves of the 64-bit lanes) and one element on (…o: the odd lanes),
// so that no operand needs shifting.
template <int kSign>
__attribute__((target("avx2"))) inline __m256i MulQ24PairX8(__m256i a0e, __m256i b0e, __m256i a1e, __m256i b1e, __m256i a0o,
                                                            __m256i b0o, __m256i a1o, __m256i b1o) {
  const __m256i p0 = RoundedLow8(a0e, b0e);
  const __m256i p1 = RoundedLow8(a1e, b1e);
  const __m256i q0 = RoundedHigh8(a0o, b0o);
  const __m256i q1 = RoundedHigh8(a1o, b1o);
  const __m256i even = kSign > 0 ? _mm256_add_epi32(p0, p1) : _mm256_sub_epi32(p0, p1);
  const __m256i odd = kSign > 0 ? _mm256_add_epi32(q0, q1) : _mm256_sub_epi32(q0, q1);
  return _mm256_blend_epi32(even, odd, 0xAA);
}

// Eight lanes one element on, the last left out (zero), so that nothing past
// p[7] is read.
__attribute__((target("avx2"))) inline __m256i LoadOddLanes8(const std::int32_t* p) {
  return _mm256_maskload_epi32(p + 1, _mm256_set_epi32(0, -1, -1, -1, -1, -1, -1, -1));
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

// The same in sixteen lanes.
__attribute__((target("avx512f"))) inline __m512i RoundedLow16(__m512i a, __m512i b) {
  return _mm512_srli_epi64(_mm512_add_epi64(_mm512_mul_epi32(a, b), _mm512_set1_epi64(std::int64_t{1} << 23)), 24);
}
__attribute__((target("avx512f"))) inline __m512i RoundedHigh16(__m512i a, __m512i b) {
  return _mm512_slli_epi64(_mm512_add_epi64(_mm512_mul_epi32(a, b), _mm512_set1_epi64(std::int64_t{1} << 23)), 8);
}

template <int kSign>
__attribute__((target("avx512f"))) inline __m512i MulQ24PairX16(__m512i a0e, __m512i b0e, __m512i a1e, __m512i b1e,
                                                                __m512i a0o, __m512i b0o, __m512i a1o, __m512i b1o) {
  const __m512i p0 = RoundedLow16(a0e, b0e);
  const __m512i p1 = RoundedLow16(a1e, b1e);
  const __m512i q0 = RoundedHigh16(a0o, b0o);
  const __m512i q1 = RoundedHigh16(a1o, b1o);
  const __m512i even = kSign > 0 ? _mm512_add_epi32(p0, p1) : _mm512_sub_epi32(p0, p1);
  const __m512i odd = kSign > 0 ? _mm512_add_epi32(q0, q1) : _mm512_sub_epi32(q0, q1);
  return _mm512_mask_blend_epi32(0xAAAA, even, odd);
}

// Sixteen lanes one element on, the last left out (zero).
__attribute__((target("avx512f"))) inline __m512i LoadOddLanes16(const std::int32_t* p) {
  return _mm512_maskz_loadu_epi32(0x7FFF, p + 1);
}

__attribute__((target("avx512f"))) inline void Store16(std::int32_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

}  // namespace kelvor::mpegenc::simd
#endif
