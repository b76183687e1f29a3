// The bit reader used by the probes, the decoder and the transcoder.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

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

TEST(BitReader, SkippingPastTheEndKeepsTheBitsOfFailedChunks) {
  const std::array<std::uint8_t, 5> bytes{0x12, 0x34, 0x56, 0x78, 0x9A};
  BitReader r(bytes);
  // 16 + 16 + 9: the last chunk needs one bit more than is left.
  EXPECT_EQ(r.skip_bits_long(41), 0u);
  EXPECT_EQ(r.bits_remaining(), 8u);
  EXPECT_EQ(r.read_bits(8), 0x9Au);
  r.reset(bytes);
  // 16 + 16 + 16 + 4: the third chunk fails, the fourth still fits.
  EXPECT_EQ(r.skip_bits_long(52), 0x9u);
  EXPECT_EQ(r.read_bits(4), 0xAu);
  EXPECT_EQ(r.bits_remaining(), 0u);
}

TEST(BitReader, SixteenBitReadsWithBitsLeftNearTheEnd) {
  // Ten bytes: the first reads come from a full cache, the last ones from
  // the bytes fetched one at a time.
  const std::array<std::uint8_t, 10> bytes{0xFF, 0x00, 0xAA, 0x55, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78};
  BitReader r(bytes);
  EXPECT_EQ(r.read_bits(3), 0b111u);
  EXPECT_EQ(r.read_bits(16), 0b11111'0000'0000'101u);
  EXPECT_EQ(r.read_bits(16), 0b01010'0101'0101'000u);
  EXPECT_EQ(r.read_bits(16), 0b01111'1111'0000'000u);
  EXPECT_EQ(r.bits_left(), 5u);
  EXPECT_EQ(r.read_ptr(), bytes.data() + 7);
  EXPECT_EQ(r.read_bits(16), 0b10010'0011'0100'010u);
  EXPECT_EQ(r.bits_remaining(), 13u);
  EXPECT_EQ(r.read_bits(16), 0u);  // 13 bits left: refused whole
  EXPECT_EQ(r.read_bits(13), 0b1'0110'0111'1000u);
  EXPECT_EQ(r.read_bits(1), 0u);
  EXPECT_EQ(r.read_ptr(), bytes.data() + bytes.size());
}

// Random widths over ranges of every short length, against a plain bit
// string: each read returns the next n bits when at least n are left and
// otherwise 0 without consuming anything.
TEST(BitReader, RandomReadsMatchABitStringUpToAndPastTheEnd) {
  std::mt19937 rng(7);
  for (std::size_t size = 0; size <= 40; ++size) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    std::vector<int> bitstring;
    for (const std::uint8_t b : bytes) {
      for (int i = 7; i >= 0; --i) bitstring.push_back((b >> i) & 1);
    }
    for (int run = 0; run < 20; ++run) {
      BitReader r(bytes);
      std::size_t pos = 0;
      for (int step = 0; step < 60; ++step) {
        const unsigned n = static_cast<unsigned>(rng() % 17);
        std::uint32_t expected = 0;
        if (bitstring.size() - pos >= n) {
          for (unsigned i = 0; i < n; ++i) expected = (expected << 1) | static_cast<std::uint32_t>(bitstring[pos++]);
        }
        ASSERT_EQ(r.read_bits(n), expected) << "size " << size << " step " << step << " n " << n;
        ASSERT_EQ(r.bits_remaining(), bitstring.size() - pos);
        ASSERT_EQ(r.bits_left(), (8 - pos % 8) % 8);
        ASSERT_EQ(r.read_ptr(), bytes.data() + (pos + 7) / 8);
      }
    }
  }
}

}  // namespace
}  // namespace kelvor
