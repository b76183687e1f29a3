#pragma once
// Mantissa dequantisation (A/52 section 7.3): the grouped quantisers of bap
// 1, 2 and 4 share their pending values across all channels of a block.
#include <array>
#include <cstdint>

#include "common/bit_reader.h"
#include "common/q24.h"

namespace kelvor::ac3 {

// sqrt(1/2) in Q24: the scale of dither in bins without bits.
inline constexpr Q24 kDitherScale = 11863283;

class MantissaReader {
 public:
  // Forgets pending group values; called at the start of every block.
  void start_block() {
    n1_ = 0;
    n2_ = 0;
    n4_ = 0;
  }

  // Reads the mantissa of one bin with allocation pointer bap (1..15) as Q24.
  // Returns false for a code outside its quantiser's range.
  bool read(BitReader& br, unsigned bap, Q24& value);

 private:
  std::array<Q24, 2> pending1_{};
  std::array<Q24, 2> pending2_{};
  Q24 pending4_ = 0;
  int n1_ = 0;  // values still pending in each group
  int n2_ = 0;
  int n4_ = 0;
};

// A two's-complement code of n bits, left-aligned and scaled so that the
// full code range spans [-1, 1) in Q24.
constexpr Q24 signed_fraction(std::uint32_t code, unsigned bits) {
  return static_cast<Q24>(code << (32 - bits)) >> 7;
}

}  // namespace kelvor::ac3
