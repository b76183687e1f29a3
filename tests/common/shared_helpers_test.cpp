// Shared helpers: CRC-32 of sections, time text, Q24 arithmetic, strings.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>

#include "common/crc32_mpeg.h"
#include "common/format_time.h"
#include "common/q24.h"
#include "common/string_table.h"

namespace kelvor {
namespace {

TEST(Crc32Mpeg, MatchesTheCheckValueAndValidatesWholeSections) {
  // The catalogued check value of CRC-32/MPEG-2 over "123456789".
  const std::string check = "123456789";
  EXPECT_EQ(Crc32Mpeg({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}),
            0x0376E6E7u);
  EXPECT_EQ(Crc32Mpeg({}), 0xFFFFFFFFu);

  // A PAT section for program 1 on PMT PID 0x1000 with its CRC appended:
  // the CRC over the section including the CRC field is 0.
  std::array<std::uint8_t, 16> pat{0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00,
                                   0x00, 0x01, 0xF0, 0x00};
  const std::uint32_t crc = Crc32Mpeg(std::span(pat).first(12));
  for (int i = 0; i < 4; ++i) pat[12 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  EXPECT_EQ(Crc32Mpeg(pat), 0u);
  pat[5] ^= 0x01;
  EXPECT_NE(Crc32Mpeg(pat), 0u);
}

TEST(FormatTime, PrintsHoursWithoutWrapping) {
  EXPECT_EQ(FormatTime(0), "00:00:00");
  EXPECT_EQ(FormatTime(3661), "01:01:01");
  EXPECT_EQ(FormatTime(359999), "99:59:59");
  EXPECT_EQ(FormatTime(360000), "100:00:00");
}

TEST(Q24, RoundsProductsAndSaturatesSums) {
  EXPECT_EQ(mul_q24(kQ24One, kQ24One), kQ24One);
  EXPECT_EQ(mul_q24(kQ24One / 2, 3), 2);    // 1.5 rounds half up
  EXPECT_EQ(mul_q24(-kQ24One / 2, 3), -1);  // -1.5 rounds towards +inf
  EXPECT_EQ(mul_q24(-kQ24One, 12345), -12345);
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(add_sat_q24(kMax, 1), kMax);
  EXPECT_EQ(add_sat_q24(kMin, -1), kMin);
  EXPECT_EQ(add_sat_q24(-5, 3), -2);
}

TEST(StringTable, HoldsEveryIdentifierWithTextsThatFitAMessageBox) {
  for (std::uint16_t id = kFirstStringId; id <= kLastStringId; ++id) {
    const auto text = LoadString(static_cast<StringId>(id));
    EXPECT_FALSE(text.empty()) << id;
    EXPECT_LE(text.size(), 99u) << id;
  }
  EXPECT_EQ(LoadString(StringId::OutputWriteError), "Output file write error");
  EXPECT_EQ(LoadString(StringId::UnableToCreateOutput), "Unable to create output file");
  EXPECT_EQ(LoadString(StringId::OutputCloseError), "Output file close error");
  EXPECT_EQ(LoadString(StringId::AllAudioTracks), " All audio tracks");
}

}  // namespace
}  // namespace kelvor
