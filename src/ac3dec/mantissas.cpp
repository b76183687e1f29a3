#include "ac3dec/mantissas.h"

#include "ac3dec/tables.h"

namespace kelvor::ac3 {

bool MantissaReader::read(BitReader& br, unsigned bap, Q24& value) {
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
