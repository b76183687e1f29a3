#pragma once
// The second half of mantissa reading: codes, already read and checked, to
// Q24 levels. The reading loop keeps to the chain of bit reads and group
// bookkeeping and leaves each bin's code and its place in the code's group
// here; this pass has no chain from bin to bin, so it runs eight bins a
// step where the processor has AVX2, with the same results.
#include <cstdint>

#include "common/q24.h"

namespace kelvor::ac3 {

// A bin's code (bits 0..15) and its place in a group's code (bits 16..17),
// as the reading loop leaves them.
constexpr std::uint32_t code_and_place(std::uint32_t code, std::uint32_t place) { return code | (place << 16); }

// Levels of bins [start, end) with allocation pointers `bap` (low four bits
// used) from `codes` (code_and_place values), shifted right by the bin's
// exponent in `exps` unless it is null, into `out`.
void dequantise_bins(const std::uint8_t* bap, const std::uint32_t* codes, const std::int32_t* exps, int start,
                     int end, Q24* out);

// The same without the AVX2 path.
void dequantise_bins_portable(const std::uint8_t* bap, const std::uint32_t* codes, const std::int32_t* exps,
                              int start, int end, Q24* out);

}  // namespace kelvor::ac3
