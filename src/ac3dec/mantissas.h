#pragma once
// Mantissa dequantisation (A/52 section 7.3): the grouped quantisers of bap
// 1, 2 and 4 share their pending values across all channels of a block.
#include <array>
#include <cstdint>

#include "ac3dec/tables.h"
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

inline bool MantissaReader::read(BitReader& br, unsigned bap, Q24& value) {
  switch (bap) {
    case 1:
      if (n1_ == 0) {
        const std::uint32_t code = br.read_bits(5);
        if (code > 26) return false;
        value = kLevels3[code / 9];
        pending1_ = {kLevels3[(code % 9) / 3], kLevels3[code % 3]};
        n1_ = 2;
      } else {
        value = pending1_[static_cast<std::size_t>(2 - n1_--)];
      }
      return true;
    case 2:
      if (n2_ == 0) {
        const std::uint32_t code = br.read_bits(7);
        if (code > 124) return false;
        value = kLevels5[code / 25];
        pending2_ = {kLevels5[(code % 25) / 5], kLevels5[code % 5]};
        n2_ = 2;
      } else {
        value = pending2_[static_cast<std::size_t>(2 - n2_--)];
      }
      return true;
    case 3: {
      const std::uint32_t code = br.read_bits(3);
      if (code > 6) return false;
      value = kLevels7[code];
      return true;
    }
    case 4:
      if (n4_ == 0) {
        const std::uint32_t code = br.read_bits(7);
        if (code > 120) return false;
        value = kLevels11[code / 11];
        pending4_ = kLevels11[code % 11];
        n4_ = 1;
      } else {
        value = pending4_;
        n4_ = 0;
      }
      return true;
    case 5: {
      const std::uint32_t code = br.read_bits(4);
      if (code > 14) return false;
      value = kLevels15[code];
      return true;
    }
    default: {
      const unsigned bits = kMantissaBits[bap & 15u];
      value = signed_fraction(br.read_bits(bits), bits);
      return true;
    }
  }
}

}  // namespace kelvor::ac3
