// The arithmetic routines the decoder shares with the transcoder.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "ac3dec/ac3_math.h"
#include "ac3dec/bit_allocation.h"
#include "ac3dec/crc16.h"
#include "ac3dec/dither.h"
#include "ac3dec/eac3_tables.h"

namespace kelvor {
namespace {

TEST(FloorLog2, SmallValuesPowersAndNeighbours) {
  EXPECT_EQ(floor_log2(0), 0u);
  EXPECT_EQ(floor_log2(1), 0u);
  EXPECT_EQ(floor_log2(768), 9u);
  for (unsigned k = 1; k < 32; ++k) {
    EXPECT_EQ(floor_log2(1u << k), k);
    EXPECT_EQ(floor_log2((1u << k) - 1), k - 1);
    EXPECT_EQ(floor_log2((1u << k) | 1u), k);
  }
  EXPECT_EQ(floor_log2(0xFFFFFFFFu), 31u);
}

TEST(Isqrt64, ExactCasesAndOscillations) {
  EXPECT_EQ(isqrt64(3), 2u);  // Newton oscillates 1, 2: ends on the earlier value
  EXPECT_EQ(isqrt64(8), 3u);
  EXPECT_EQ(isqrt64(2), 1u);
  EXPECT_EQ(isqrt64(0), 0u);
  EXPECT_EQ(isqrt64(-5), 0u);
  EXPECT_EQ(isqrt64(1), 1u);
  EXPECT_EQ(isqrt64(1'000'000'000'000), 1'000'000u);
  EXPECT_EQ(isqrt64(INT64_MAX), 3037000499u);  // no overflow on the first step
  // Within one of the true root everywhere in a sweep.
  for (std::int64_t x = 1; x < (std::int64_t{1} << 62); x = x * 3 + 7) {
    const double root = std::sqrt(static_cast<double>(x));
    EXPECT_NEAR(static_cast<double>(isqrt64(x)), root, 1.0) << x;
  }
}

TEST(SqrtQ24, UnityQuarterAndRange) {
  EXPECT_EQ(sqrt_q24(1 << 24), 1 << 24);
  EXPECT_EQ(sqrt_q24(1 << 22), 1 << 23);  // sqrt(0.25) = 0.5
  EXPECT_EQ(sqrt_q24(0), 0);
  EXPECT_EQ(sqrt_q24(-1), 0);
  for (Q24 a : {1, 100, 65536, 1 << 20, 12345678, 1 << 28, 0x7FFFFFFF}) {
    const double expected = std::sqrt(static_cast<double>(a) * 16777216.0);
    EXPECT_NEAR(static_cast<double>(sqrt_q24(a)), expected, 1.0) << a;
  }
}

TEST(UngroupExponents, GroupValuesAndRepeats) {
  std::array<std::int32_t, 13> out{};
  // 62 = (2, 2, 2): three unchanged exponents.
  const std::array<std::uint8_t, 1> same = {62};
  ASSERT_TRUE(ungroup_exponents(7, std::span(out).subspan(1), 1, same));
  EXPECT_EQ((std::array<std::int32_t, 3>{out[1], out[2], out[3]}), (std::array<std::int32_t, 3>{7, 7, 7}));

  // 0 = (-2, -2, -2), 124 = (+2, +2, +2); D25 writes each value twice.
  out.fill(-1);
  const std::array<std::uint8_t, 2> down_up = {0, 124};
  ASSERT_TRUE(ungroup_exponents(10, std::span(out).subspan(0, 12), 2, down_up));
  const std::array<std::int32_t, 12> expected = {8, 8, 6, 6, 4, 4, 6, 6, 8, 8, 10, 10};
  for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(out[i], expected[i]) << i;
  EXPECT_EQ(out[12], -1);

  // D45 writes four times.
  const std::array<std::uint8_t, 1> one = {25 * 3 + 5 * 2 + 1};  // (+1, 0, -1)
  ASSERT_TRUE(ungroup_exponents(0, std::span(out).subspan(0, 12), 4, one));
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[3], 1);
  EXPECT_EQ(out[4], 1);
  EXPECT_EQ(out[8], 0);
  EXPECT_EQ(out[11], 0);
}

TEST(UngroupExponents, RejectsBadGroupsAndOverruns) {
  std::array<std::int32_t, 9> out{};
  const std::array<std::uint8_t, 2> bad = {62, 125};
  EXPECT_FALSE(ungroup_exponents(5, out, 1, bad));
  EXPECT_EQ(out[0], 5);  // the good group before the bad one was written
  const std::array<std::uint8_t, 4> too_many = {62, 62, 62, 62};
  EXPECT_FALSE(ungroup_exponents(5, out, 1, too_many));  // 12 values into 9
}

TEST(Dither, FirstStepsAndPeriod) {
  Ac3Dither dither;
  EXPECT_EQ(dither.state(), 0xFFFF);
  const Q24 first = dither.dither_next();
  EXPECT_EQ(dither.state(), 0xDAA5);  // 0x7FFF ^ 0xA55A
  EXPECT_EQ(first, static_cast<std::int16_t>(0xDAA5) * 512);
  EXPECT_EQ(dither_step(0x0002), 0x0001);  // a 0 shifted out: no XOR

  // Values stay within [-1, 1) and the sequence repeats with a fixed period
  // that never revisits the seed early.
  dither.reset();
  int period = 0;
  do {
    const Q24 v = dither.dither_next();
    ASSERT_GE(v, -(1 << 24));
    ASSERT_LT(v, 1 << 24);
    ++period;
  } while (dither.state() != 0xFFFF && period < 70000);
  EXPECT_GT(period, 1000);
  EXPECT_LT(period, 65536);
}

TEST(Crc16, TableAndResidue) {
  EXPECT_EQ(ac3_crc_table[0], 0u);
  EXPECT_EQ(ac3_crc_table[1], 0x8005u);
  // A message followed by its CRC leaves no remainder; any flipped bit does.
  std::vector<std::uint8_t> message = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
  const std::uint16_t crc = ac3_crc16(message);
  message.push_back(static_cast<std::uint8_t>(crc >> 8));
  message.push_back(static_cast<std::uint8_t>(crc));
  EXPECT_EQ(ac3_crc16(message), 0);
  for (std::size_t bit = 0; bit < message.size() * 8; ++bit) {
    auto damaged = message;
    damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
    EXPECT_NE(ac3_crc16(damaged), 0) << bit;
  }
  // "123456789" is the usual check string: CRC-16/BUYPASS gives 0xFEE8.
  const std::uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(ac3_crc16(check), 0xFEE8);
}

// Long ranges take a faster route than the byte tables: every length around
// its step sizes, from unaligned starts, against the bit-by-bit definition.
TEST(Crc16, LengthsAndOffsetsMatchBitwise) {
  std::vector<std::uint8_t> data(4096);
  std::uint32_t seed = 1;
  for (auto& b : data) b = static_cast<std::uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  const auto bitwise = [](std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0;
    for (const std::uint8_t byte : bytes) {
      for (int bit = 7; bit >= 0; --bit) {
        const std::uint32_t in = ((crc >> 15) ^ (byte >> bit)) & 1u;
        crc = ((crc << 1) & 0xFFFFu) ^ (in ? 0x8005u : 0u);
      }
    }
    return static_cast<std::uint16_t>(crc);
  };
  for (const std::size_t offset : {0u, 1u, 7u, 15u}) {
    for (const std::size_t length : {0u, 1u, 15u, 16u, 17u, 47u, 48u, 63u, 64u, 65u, 79u, 80u, 95u, 96u, 97u, 111u,
                                     112u, 127u, 128u, 1534u, 1536u, 2558u, 3838u}) {
      const auto range = std::span<const std::uint8_t>(data).subspan(offset, length);
      EXPECT_EQ(ac3_crc16(range), bitwise(range)) << offset << " " << length;
    }
  }
}

TEST(Q24Helpers, SaturationAndShifts) {
  EXPECT_EQ(sub_sat_q24(INT32_MIN, 1), INT32_MIN);
  EXPECT_EQ(sub_sat_q24(INT32_MAX, -1), INT32_MAX);
  EXPECT_EQ(neg_sat_q24(INT32_MIN), INT32_MAX);
  EXPECT_EQ(shl32(-3, 4), -48);
  EXPECT_EQ(shr32(-48, 4), -3);
  EXPECT_EQ(shr32(1 << 20, 36), 1 << 16);  // only the low five bits of the count
  EXPECT_EQ(shr32(1 << 20, -1), 0);        // -1 & 31 = 31
  EXPECT_EQ(mul_sat_q24(INT32_MAX, INT32_MAX), INT32_MAX);
}


TEST(BitAllocation, SixteenBinPointerLookupMatchesTheBinAtATimeOne) {
  // Addresses below 0, across all 64 table entries and above 63; masks
  // from every offset sign; ranges that end inside a band and off step.
  ac3::MaskResult m;
  for (std::size_t bin = 0; bin < 256; ++bin) m.psd[bin] = static_cast<std::int32_t>((bin * 2731) % 4000) - 300;
  for (std::size_t band = 0; band < m.mask.size(); ++band) m.mask[band] = static_cast<std::int32_t>((band * 977) % 3000);
  for (const auto& table : {ac3::baptab, eac3::hebaptab}) {
    for (const auto& [start, end] : {std::pair{0, 256}, std::pair{13, 250}, std::pair{37, 46}, std::pair{1, 7}}) {
      for (const int snroffset : {-400, 0, 900}) {
        std::array<std::uint8_t, 256> fast{};
        std::array<std::uint8_t, 256> portable{};
        ac3::compute_bap(m, start, end, snroffset, 0x2A0, table, fast);
        ac3::compute_bap_portable(m, start, end, snroffset, 0x2A0, table, portable);
        EXPECT_EQ(fast, portable) << start << ".." << end << " offset " << snroffset;
      }
    }
  }
}

}  // namespace
}  // namespace kelvor
