#pragma once
// Exponents of the AC-3 writer: taken from the coefficients, made codable
// under an exponent strategy (neighbouring values at most 2 apart, the
// first at most 15) and written as 7-bit groups.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "common/q24.h"
#include "transcode/bit_writer.h"

namespace kelvor::transcode {

using Exponents = std::array<std::int32_t, 256>;

enum Strategy : std::uint8_t { kReuse = 0, kD15 = 1, kD25 = 2, kD45 = 3 };

// 24 for 0, else 23 - floor(log2 |v|), not below 0.
inline std::int32_t exponent_of(Q24 v) {
  // Below 2^24 in magnitude the float of v is exact and its exponent field
  // is 127 + floor(log2 |v|); 0 has field 0 and comes out as 24. Written
  // this way the loops over bins vectorise.
  const auto field = static_cast<std::int32_t>((std::bit_cast<std::uint32_t>(static_cast<float>(v)) >> 23) & 0xFFu);
  return std::clamp(150 - field, 0, 24);
}

// Bins covered by the exponent values after the absolute one.
int exponent_values(Strategy strategy, int end);

// Makes bins 0..end-1 codable: each value the minimum of the bins it stands
// for, the absolute exponent at most 15, steps of at most 2.
void process_exponents(Strategy strategy, int end, Exponents& exps);

// The absolute exponent (4 bits) and the groups of three differences.
void encode_exponents(Strategy strategy, int end, const Exponents& exps, BitWriter& bw);

}  // namespace kelvor::transcode
