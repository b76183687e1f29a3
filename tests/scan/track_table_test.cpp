// The track table's one array: MPEG audio before AC-3/E-AC-3 whatever the
// order tracks are added in, and no more than it holds.
#include <gtest/gtest.h>

#include "scan/track_table.h"

namespace kelvor {
namespace {

TEST(TrackTable, KeepsMpegAudioFirstAndRefusesATrackBeyondItsSize) {
  TrackTable t;
  ASSERT_TRUE(t.addAudio({0x200, 0xBD, Codec::Ac3}));
  ASSERT_TRUE(t.addAudio({0x100, 0xC0, Codec::MpegAudio}));
  ASSERT_TRUE(t.addAudio({0x201, 0xBD, Codec::Eac3}));
  ASSERT_TRUE(t.addAudio({0x101, 0xC1, Codec::MpegAudio}));
  const std::uint32_t order[] = {0x100, 0x101, 0x200, 0x201};
  ASSERT_EQ(t.audioTracks().size(), 4u);
  for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(t.audioTracks()[k].pid, order[k]) << k;
  EXPECT_EQ(t.audioTrack(0x201)->codec, Codec::Eac3);
  EXPECT_EQ(t.audioTrack(0x300), nullptr);

  for (std::uint32_t k = 4; k < kMaxAudioTracks; ++k) ASSERT_TRUE(t.addAudio({0x300 + k, 0xBD, Codec::Ac3}));
  EXPECT_FALSE(t.addAudio({0x102, 0xC2, Codec::MpegAudio}));
  EXPECT_EQ(t.audioCount, kMaxAudioTracks);
  EXPECT_EQ(t.audioTrack(0x102), nullptr);

  // A count beyond the array (a damaged table) is bounded.
  t.audioCount = 1000;
  EXPECT_EQ(t.audioTracks().size(), kMaxAudioTracks);
}

}  // namespace
}  // namespace kelvor
