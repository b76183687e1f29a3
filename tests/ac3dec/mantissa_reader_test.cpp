// The mantissa reader: grouped codes whose values spread over later bins and
// later channels of the same block, rejected codes, and dither in bins
// without bits.
#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "ac3dec/mantissas.h"

namespace kelvor::ac3 {
namespace {

class Bits {
 public:
  void put(std::uint32_t value, unsigned n) {
    for (unsigned i = n; i-- > 0;) {
      if (used_ % 8 == 0) bytes_.push_back(0);
      if ((value >> i) & 1u) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80u >> (used_ % 8)));
      ++used_;
    }
  }
  std::vector<std::uint8_t> bytes() const {
    auto b = bytes_;
    b.resize(b.size() + 8, 0);  // room behind the codes, as a frame has
    return b;
  }
  unsigned used() const { return used_; }

 private:
  std::vector<std::uint8_t> bytes_;
  unsigned used_ = 0;
};

TEST(MantissaReader, GroupedValuesSpreadOverLaterBinsAndChannels) {
  Bits bits;
  bits.put(9 * 2 + 3 * 0 + 1, 5);     // bap 1: levels 2, 0, 1 of 3
  bits.put(0b10011, 5);               // bap 6: a 5-bit two's-complement code
  bits.put(25 * 4 + 5 * 1 + 3, 7);    // bap 2: levels 4, 1, 3 of 5
  bits.put(11 * 7 + 2, 7);            // bap 4: levels 7, 2 of 11
  bits.put(0, 5);                     // bap 1 again: a new group, levels 0, 0, 0
  bits.put(5, 3);                     // bap 3 in the next block
  const auto bytes = bits.bytes();
  BitReader br(bytes);
  Ac3Dither dither;
  MantissaReader reader;
  reader.start_block();

  const std::array<std::uint8_t, 4> first{1, 6, 2, 4};
  std::array<Q24, 4> a{};
  ASSERT_TRUE(reader.read_bins<false>(br, first.data(), nullptr, 0, 4, false, dither, a.data()));
  EXPECT_EQ(a[0], kLevels3[2]);
  EXPECT_EQ(a[1], -(13 << 20));  // 0b10011: -13 sixteenths
  EXPECT_EQ(a[2], kLevels5[4]);
  EXPECT_EQ(a[3], kLevels11[7]);

  // Another channel of the same block takes the pending values first.
  const std::array<std::uint8_t, 6> second{1, 1, 2, 2, 4, 1};
  std::array<Q24, 6> b{};
  ASSERT_TRUE(reader.read_bins<false>(br, second.data(), nullptr, 0, 6, false, dither, b.data()));
  EXPECT_EQ(b[0], kLevels3[0]);
  EXPECT_EQ(b[1], kLevels3[1]);
  EXPECT_EQ(b[2], kLevels5[1]);
  EXPECT_EQ(b[3], kLevels5[3]);
  EXPECT_EQ(b[4], kLevels11[2]);
  EXPECT_EQ(b[5], kLevels3[0]);
  EXPECT_EQ(br.bits_remaining(), bytes.size() * 8 - (bits.used() - 3));

  // A new block forgets the two values still pending from the last code.
  reader.start_block();
  const std::array<std::uint8_t, 2> third{3, 1};
  std::array<Q24, 2> c{};
  EXPECT_TRUE(reader.read_bins<false>(br, third.data(), nullptr, 0, 2, false, dither, c.data()));
  EXPECT_EQ(c[0], kLevels7[5]);
  EXPECT_EQ(br.bits_remaining(), bytes.size() * 8 - bits.used() - 5);
}

TEST(MantissaReader, CodesOutsideTheirRangeStopWhereTheCodeEnds) {
  struct Case {
    std::uint8_t bap;
    std::uint32_t code;
    unsigned width;
  };
  for (const Case k : {Case{1, 27, 5}, Case{2, 125, 7}, Case{3, 7, 3}, Case{4, 121, 7}, Case{5, 15, 4}}) {
    Bits bits;
    bits.put(k.code, k.width);
    const auto bytes = bits.bytes();
    BitReader br(bytes);
    Ac3Dither dither;
    MantissaReader reader;
    reader.start_block();
    // An empty bin before the bad code takes one dither value; the one after
    // it is never reached.
    const std::array<std::uint8_t, 3> baps{0, k.bap, 0};
    std::array<Q24, 3> out{};
    EXPECT_FALSE(reader.read_bins<false>(br, baps.data(), nullptr, 0, 3, true, dither, out.data())) << int{k.bap};
    EXPECT_EQ(br.bits_remaining(), bytes.size() * 8 - k.width);
    Ac3Dither once;
    once.dither_next();
    EXPECT_EQ(dither.state(), once.state());
  }
}

TEST(MantissaReader, EmptyBinsTakeDitherOnlyWhenAskedScaledByTheirExponents) {
  Bits bits;
  bits.put(0x7FFF, 16);  // bap 15
  bits.put(0x7FFF, 16);
  const auto bytes = bits.bytes();
  const std::array<std::uint8_t, 3> baps{0, 15, 0};
  const std::array<std::int32_t, 3> exps{2, 1, 3};
  MantissaReader reader;

  BitReader br(bytes);
  Ac3Dither dither;
  reader.start_block();
  std::array<Q24, 3> out{};
  ASSERT_TRUE(reader.read_bins<true>(br, baps.data(), exps.data(), 0, 3, true, dither, out.data()));
  Ac3Dither expected;
  EXPECT_EQ(out[0], mul_q24(expected.dither_next(), kDitherScale) >> 2);
  EXPECT_EQ(out[1], (0x7FFF << 9) >> 1);
  EXPECT_EQ(out[2], mul_q24(expected.dither_next(), kDitherScale) >> 3);
  EXPECT_EQ(dither.state(), expected.state());

  reader.start_block();
  ASSERT_TRUE(reader.read_bins<true>(br, baps.data(), exps.data(), 0, 3, false, dither, out.data()));
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(dither.state(), expected.state());  // not advanced
}

TEST(MantissaLevels, EightBinPathMatchesTheBinAtATimeOne) {
  // Every pointer (with stray high bits), codes over each quantiser's range,
  // every place in a group, exponents past 31 and ranges of any alignment.
  std::array<std::uint8_t, 256> bap{};
  std::array<std::uint32_t, 256> codes{};
  std::array<std::int32_t, 256> exps{};
  for (std::size_t i = 0; i < 256; ++i) {
    const auto p = static_cast<std::uint8_t>((i * 7) % 16);
    bap[i] = static_cast<std::uint8_t>(p | (i % 3 == 0 ? 0x10 : 0));
    constexpr std::array<std::uint32_t, 6> kRange{1, 27, 125, 7, 121, 15};  // codes of pointers 0..5
    const std::uint32_t range = p < 6 ? kRange[p] : 1u << 16;
    const std::uint32_t places = p == 1 || p == 2 ? 3 : p == 4 ? 2 : 1;
    const auto n = static_cast<std::uint32_t>(i);
    codes[i] = code_and_place(n * 40503u % range, n / 16 % places);
    exps[i] = static_cast<std::int32_t>((i * 13) % 40);
  }
  for (const auto& [start, end] : {std::pair{0, 256}, std::pair{3, 250}, std::pair{9, 16}}) {
    const std::int32_t* scaled = exps.data();
    for (const std::int32_t* e : {static_cast<const std::int32_t*>(nullptr), scaled}) {
      std::array<Q24, 256> fast{};
      std::array<Q24, 256> portable{};
      dequantise_bins(bap.data(), codes.data(), e, start, end, fast.data());
      dequantise_bins_portable(bap.data(), codes.data(), e, start, end, portable.data());
      EXPECT_EQ(fast, portable) << start << ".." << end;
    }
  }
}

TEST(MantissaReader, ListsBinsWithoutBitsAcrossEveryStepAndTail) {
  // Pointers of the hybrid transform reach 19: with the low four bits only,
  // 16 reads as 0 (the mantissa reader's view), with all eight it does not.
  std::array<std::uint8_t, 256> bap{};
  for (std::size_t i = 0; i < bap.size(); ++i) bap[i] = static_cast<std::uint8_t>((i * 7) % 5 == 0 ? (i % 2 ? 0 : 16) : 3);
  for (const std::uint8_t mask : {std::uint8_t{15}, std::uint8_t{0xFF}}) {
    for (const auto& [start, end] : {std::pair{0, 256}, std::pair{3, 250}, std::pair{17, 33}, std::pair{5, 9},
                                     std::pair{40, 40}}) {
      std::vector<std::uint16_t> expected;
      for (int i = start; i < end; ++i) {
        if ((bap[static_cast<std::size_t>(i)] & mask) == 0) expected.push_back(static_cast<std::uint16_t>(i));
      }
      std::array<std::uint16_t, 256> list{};
      const std::size_t n = list_bins_without_bits(bap.data(), start, end, mask, list.data());
      EXPECT_EQ(std::vector<std::uint16_t>(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(n)), expected)
          << int{mask} << " " << start << ".." << end;
    }
  }
}

}  // namespace
}  // namespace kelvor::ac3
