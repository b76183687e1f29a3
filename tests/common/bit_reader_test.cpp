// The bit reader used by the probes, the decoder and the transcoder.
#include <gtest/gtest.h>

#include <array>

#include "common/bit_reader.h"

namespace kelvor {
namespace {

TEST(BitReader, ReadsAcrossByteBoundaries) {
  const std::array<std::uint8_t, 4> bytes{0b1011'0011, 0xA5, 0x0F, 0xF0};
  BitReader r(bytes);
  EXPECT_EQ(r.read_bits(0), 0u);
  EXPECT_EQ(r.read_bits(5), 0b10110u);
  // 16 bits with 3 left: loads two bytes and leaves 3 bits over.
  EXPECT_EQ(r.read_bits(16), 0b011'1010'0101'00001u);
  EXPECT_EQ(r.bits_left(), 3u);
  EXPECT_EQ(r.read_bits(3), 0b111u);
  EXPECT_EQ(r.read_bits(8), 0xF0u);
  EXPECT_EQ(r.read_bits(1), 0u);
}

TEST(BitReader, PastTheEndYieldsZerosAndConsumesNothing) {
  const std::array<std::uint8_t, 1> bytes{0b1111'1111};
  BitReader r(bytes);
  EXPECT_EQ(r.read_bits(6), 0b111111u);
  EXPECT_EQ(r.read_bits(5), 0u);      // needs a byte that is not there
  EXPECT_EQ(r.read_bits(2), 0b11u);   // the two bits are still there
  EXPECT_EQ(r.read_bits(16), 0u);
  EXPECT_EQ(r.bits_remaining(), 0u);
}

TEST(BitReader, SkipsLongFieldsReturningTheLastChunk) {
  const std::array<std::uint8_t, 6> bytes{0x00, 0x00, 0x00, 0x00, 0xAB, 0xCD};
  BitReader r(bytes);
  EXPECT_EQ(r.skip_bits_long(40), 0xABu);  // 16 + 16 + 8
  EXPECT_EQ(r.read_bits(8), 0xCDu);
}

}  // namespace
}  // namespace kelvor
