// How many frames go out for a late audio frame: one per missing frame when its
// time stamp agrees with the picture, one more at most when it does not.
#include <gtest/gtest.h>

#include "convert/gap_fill.h"

namespace kelvor {
namespace {

constexpr std::uint32_t kMp2 = 2160;

TEST(LateFrameWrites, FillsAWholeGapAtOnceWhenTheTimeStampAgreesWithThePicture) {
  StreamTiming timing;
  timing.videoTime = 50 * 90000;
  const std::uint32_t frameTime = timing.videoTime + 9000;  // audio a little ahead of the picture
  // The half-frame thresholds stay where they were.
  EXPECT_EQ(LateFrameWrites(1079, kMp2, frameTime, timing), 1u);
  EXPECT_EQ(LateFrameWrites(1080, kMp2, frameTime, timing), 2u);
  EXPECT_EQ(LateFrameWrites(3239, kMp2, frameTime, timing), 2u);
  EXPECT_EQ(LateFrameWrites(3240, kMp2, frameTime, timing), 3u);
  // One second lost: 41.7 frames, rounded to 42, filled before the frame itself.
  EXPECT_EQ(LateFrameWrites(90000, kMp2, frameTime, timing), 43u);
  EXPECT_EQ(LateFrameWrites(90000, 2880, frameTime, timing), 32u);  // AC-3: 31.25 -> 31
  // Never more than ten seconds of repeats.
  EXPECT_EQ(LateFrameWrites(40 * 90000, kMp2, frameTime, timing), 1u + 10 * 90000 / kMp2);
}

TEST(LateFrameWrites, DistrustsTimeStampsFarFromThePicture) {
  StreamTiming timing;
  EXPECT_EQ(LateFrameWrites(90000, kMp2, 12345, timing), 2u);  // no picture yet
  timing.videoTime = 50 * 90000;
  EXPECT_EQ(LateFrameWrites(90000, kMp2, timing.videoTime + 3 * 90000, timing), 2u);  // damaged stamp
  EXPECT_EQ(LateFrameWrites(90000, kMp2, timing.videoTime - 3 * 90000, timing), 2u);
  EXPECT_EQ(LateFrameWrites(90000, kMp2, timing.videoTime - 90000, timing), 43u);
  // Time wraps at 2^32 like every other time here.
  timing.videoTime = 0xFFFFFF00u;
  EXPECT_EQ(LateFrameWrites(90000, kMp2, 0x100, timing), 43u);
}

}  // namespace
}  // namespace kelvor
