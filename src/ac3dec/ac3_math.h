#pragma once
// Small integer routines shared by the AC-3 decoder and the E-AC-3 to AC-3
// transcoder: logarithms, square roots, exponent ungrouping and the Q24
// helpers that never overflow or shift into the sign bit.
#include <cstdint>
#include <span>

#include "common/q24.h"

namespace kelvor {

// floor(log2 x); 0 for x = 0 and x = 1.
unsigned floor_log2(std::uint32_t x);

// Square root of a Q24 value as a Q24 value; 0 for a <= 0.
Q24 sqrt_q24(Q24 a);

// Integer square root of a 64-bit value; 0 for x <= 0.
std::uint32_t isqrt64(std::int64_t x);

// Expands 7-bit exponent groups (three differential exponents each) starting
// from `absexp`. `grpsize` is 1, 2 or 4 (D15, D25, D45): each exponent is
// written that many times. Fails on a group value above 124 or when the
// groups would overrun `out`; exponents already written stay.
bool ungroup_exponents(std::int32_t absexp, std::span<std::int32_t> out, unsigned grpsize,
                       std::span<const std::uint8_t> groups);

// Left shift that is defined for negative values (two's complement wrap).
constexpr std::int32_t shl32(std::int32_t v, unsigned n) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v) << (n & 31));
}

// Arithmetic right shift by the low 5 bits of the count, as the decoder
// treats exponents of any value.
constexpr std::int32_t shr32(std::int32_t v, std::int32_t n) { return v >> (n & 31); }

// Saturating difference and negation.
constexpr Q24 sub_sat_q24(Q24 a, Q24 b) {
  return saturate_i32(static_cast<std::int64_t>(a) - b);
}
constexpr Q24 neg_sat_q24(Q24 a) { return saturate_i32(-static_cast<std::int64_t>(a)); }

// Rounded Q24 product saturated to 32 bits (for operands that can exceed 1.0).
constexpr Q24 mul_sat_q24(std::int32_t a, std::int32_t b) {
  return saturate_i32((static_cast<std::int64_t>(a) * b + (std::int64_t{1} << 23)) >> 24);
}

}  // namespace kelvor
