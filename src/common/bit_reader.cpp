#include "common/bit_reader.h"

namespace kelvor {

std::uint32_t BitReader::skip_bits_long(unsigned n) {
  while (n > 16) {
    read_bits(16);
    n -= 16;
  }
  return read_bits(n);
}

}  // namespace kelvor
