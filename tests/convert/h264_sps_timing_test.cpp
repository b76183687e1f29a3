// The timing read from H.264 sequence parameter sets of real encoders.
#include "convert/h264_sps_timing.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelvor {
namespace {

struct SpsCase {
  const char* name;
  std::vector<std::uint8_t> rbsp;  // after the NAL header, as in the stream
  std::uint32_t units, scale;
  bool fixed;
  std::uint32_t frameTicks;
};

TEST(SpsTiming, ReadsTheTimingOfEveryProfileAndLayout) {
  const SpsCase cases[] = {
      {"main 25 fps, emulation prevention bytes",
       {0x4D, 0x40, 0x14, 0xEC, 0xA0, 0xB0, 0x4B, 0x60, 0x22, 0x00, 0x00, 0x03, 0x00, 0x02, 0x00, 0x00,
        0x03, 0x00, 0x64, 0x1E, 0x28, 0x53, 0x2C},
       1, 50, false, 3600},
      {"main field coded, fixed rate",
       {0x4D, 0x00, 0x1E, 0xE5, 0x40, 0xB0, 0x92, 0x84, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x03,
        0x00, 0xCA, 0x3C, 0x22, 0x11, 0xA8},
       1, 50, true, 3600},
      {"main 29.97 fps",
       {0x4D, 0x40, 0x14, 0xEC, 0xA0, 0xB0, 0xFD, 0x80, 0x88, 0x00, 0x00, 0x1F, 0x48, 0x00, 0x07, 0x53,
        0x00, 0x78, 0xA1, 0x4C, 0xB0},
       1001, 60000, false, 3003},
      {"high 29.97 fps, then the next start code",
       {0x64, 0x00, 0x1E, 0xAC, 0xD9, 0x40, 0xA0, 0x37, 0xF9, 0x30, 0x11, 0x00, 0x00, 0x03, 0x03, 0xE9,
        0x00, 0x00, 0xEA, 0x60, 0x0F, 0x16, 0x2D, 0x96, 0x00, 0x00, 0x01, 0x68},
       1001, 60000, false, 3003},
  };
  for (const SpsCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto t = ReadSpsTiming(c.rbsp);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->numUnitsInTick, c.units);
    EXPECT_EQ(t->timeScale, c.scale);
    EXPECT_EQ(t->fixedFrameRate, c.fixed);
    EXPECT_EQ(t->FrameTicks(), c.frameTicks);
    // Cut short before its timing ends: nothing.
    EXPECT_FALSE(ReadSpsTiming(std::span(c.rbsp).first(c.rbsp.size() / 2)).has_value());
  }
  // Values that give no frame rate are not used.
  EXPECT_EQ((SpsTiming{1, 0, true}).FrameTicks(), 0u);
  EXPECT_EQ((SpsTiming{0xFFFFFFFF, 1, true}).FrameTicks(), 0u);
  EXPECT_EQ((SpsTiming{1, 0xFFFFFFFF, true}).FrameTicks(), 0u);
}

}  // namespace
}  // namespace kelvor
