#include "common/bit_reader.h"

namespace kelvor {

std::uint32_t BitReader::read_bits(unsigned n) {
  if (n <= bits_left_) {
    if (n == 0) return 0;
    const std::uint32_t value = static_cast<std::uint32_t>(current_byte_) >> (8 - n);
    current_byte_ = static_cast<std::uint8_t>(current_byte_ << n);
    bits_left_ = static_cast<std::uint8_t>(bits_left_ - n);
    return value;
  }
  const unsigned need = n - bits_left_;  // 1..16
  const unsigned bytes = need > 8 ? 2 : 1;
  if (end_ptr_ - read_ptr_ < static_cast<std::ptrdiff_t>(bytes)) return 0;  // nothing consumed

  std::uint32_t value = bits_left_ ? (static_cast<std::uint32_t>(current_byte_) >> (8 - bits_left_)) : 0;
  unsigned still = need;
  if (bytes == 2) {
    value = (value << 8) | *read_ptr_++;
    still -= 8;
  }
  const std::uint8_t last = *read_ptr_++;
  value = (value << still) | (static_cast<std::uint32_t>(last) >> (8 - still));
  current_byte_ = static_cast<std::uint8_t>(last << still);
  bits_left_ = static_cast<std::uint8_t>(8 - still);
  return value;
}

std::uint32_t BitReader::skip_bits_long(unsigned n) {
  while (n > 16) {
    read_bits(16);
    n -= 16;
  }
  return read_bits(n);
}

}  // namespace kelvor
