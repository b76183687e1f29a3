#pragma once
// Reads a parameter set's fields: fixed-width bits and Exp-Golomb codes, over
// the bytes after emulation prevention is taken out. Past the end it reads
// zeros and says so in `exhausted()`, so a cut-short set is refused rather
// than read as garbage.
#include <cstdint>
#include <span>

#include "common/bit_reader.h"

namespace kelvor::mkv {

class RbspReader {
 public:
  explicit RbspReader(std::span<const std::uint8_t> rbsp) : bits_(rbsp), total_(rbsp.size() * 8) {}

  std::uint32_t Bits(unsigned n) {
    std::uint32_t v = 0;
    while (n > 16) {
      v = (v << 16) | Take(16);
      n -= 16;
    }
    return (v << n) | Take(n);
  }
  bool Flag() { return Bits(1) != 0; }
  void Skip(unsigned n) {
    while (n > 16) {
      Take(16);
      n -= 16;
    }
    Take(n);
  }
  // ue(v); codes longer than 32 bits are refused (exhausted).
  std::uint32_t Ue() {
    unsigned zeros = 0;
    while (!exhausted_ && Bits(1) == 0) {
      if (++zeros > 31) {
        exhausted_ = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + Bits(zeros));
  }
  std::int32_t Se() {
    const std::uint32_t k = Ue();
    return (k & 1) != 0 ? static_cast<std::int32_t>((k + 1) / 2) : -static_cast<std::int32_t>(k / 2);
  }
  bool exhausted() const { return exhausted_; }
  std::uint64_t used() const { return used_; }

 private:
  std::uint32_t Take(unsigned n) {
    if (used_ + n > total_) {
      exhausted_ = true;
      used_ = total_;
      return 0;
    }
    used_ += n;
    return bits_.read_bits(n);
  }

  BitReader bits_;
  std::uint64_t total_;
  std::uint64_t used_ = 0;
  bool exhausted_ = false;
};

}  // namespace kelvor::mkv
