#pragma once
// Most-significant-bit-first reader of 0..16 bits at a time over a byte
// range. Reading past the end yields zeros and consumes nothing, so a parser
// that runs off the end of a frame sees zeros for ever.
#include <cstdint>
#include <span>

namespace kelvor {

class BitReader {
 public:
  BitReader() = default;
  explicit BitReader(std::span<const std::uint8_t> range) { reset(range); }

  void reset(std::span<const std::uint8_t> range) {
    current_byte_ = 0;
    bits_left_ = 0;
    read_ptr_ = range.data();
    end_ptr_ = range.data() + range.size();
  }

  // The next n bits (0 <= n <= 16), first bit most significant.
  std::uint32_t read_bits(unsigned n);

  // Consumes n >= 1 bits in chunks of 16 and returns the last chunk
  // (1..16 bits).
  std::uint32_t skip_bits_long(unsigned n);

  // Bits not yet consumed.
  std::uint64_t bits_remaining() const {
    return static_cast<std::uint64_t>(end_ptr_ - read_ptr_) * 8 + bits_left_;
  }
  const std::uint8_t* read_ptr() const { return read_ptr_; }
  unsigned bits_left() const { return bits_left_; }

 private:
  std::uint8_t current_byte_ = 0;  // unconsumed bits, left-aligned
  std::uint8_t bits_left_ = 0;     // 0..8
  const std::uint8_t* read_ptr_ = nullptr;
  const std::uint8_t* end_ptr_ = nullptr;
};

}  // namespace kelvor
