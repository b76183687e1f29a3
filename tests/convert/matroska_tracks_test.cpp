// The Matroska track entries a run asks for: codecs as the run writes them,
// languages and accessibility flags from the PMT, the first audio track as
// the default.
#include "convert/matroska_tracks.h"

#include <gtest/gtest.h>

#include "convert/run_setup.h"
#include "mux/mux_test_support.h"

namespace kelvor {
namespace {

using mkv::TrackCodec;

TrackTable Broadcast() {
  TrackTable t;
  t.video = Track{0x100, 0xE0, Codec::H264};
  test::AddMpegTrack(t, 0x101, "deu");
  test::AddAudioTrack(t, 0x102, Codec::Eac3, "eng");
  // An audio description track: the language descriptor's audio_type 3.
  test::AddPrivateTrack(t, 0x103, "deu");
  Track& ad = t.audio[2];
  const std::uint8_t descriptor[] = {0x0A, 4, 'd', 'e', 'u', 0x03};
  std::copy(std::begin(descriptor), std::end(descriptor), ad.descriptorBytes.begin());
  ad.descriptorLength = sizeof descriptor;
  t.audio[0].mpegLayer = 2;
  return t;
}

TEST(MatroskaTracks, EveryOutputWithItsCodecLanguageAndFlags) {
  const TrackTable t = Broadcast();
  RunSettings run;
  ConfigureRun(run, t, false);
  run.videoCodec = Codec::H264;
  MatroskaTrackPlan plan;
  PlanMatroskaTracks(t, run, true, plan);
  ASSERT_EQ(plan.count, 4u);
  EXPECT_EQ(plan.videoTrack, 0u);
  EXPECT_EQ(plan.setups[0].codec, TrackCodec::Avc);
  EXPECT_TRUE(plan.setups[0].isDefault);
  EXPECT_EQ(plan.setups[1].codec, TrackCodec::MpegL2);
  EXPECT_STREQ(plan.setups[1].language.data(), "deu");
  EXPECT_TRUE(plan.setups[1].isDefault);
  // E-AC-3 goes out as AC-3 in every container.
  EXPECT_EQ(plan.setups[2].codec, TrackCodec::Ac3);
  EXPECT_STREQ(plan.setups[2].language.data(), "eng");
  EXPECT_FALSE(plan.setups[2].isDefault);
  EXPECT_TRUE(plan.setups[3].visualImpaired);
  EXPECT_FALSE(plan.setups[3].isDefault);
  for (std::uint32_t slot = 0; slot < 3; ++slot) EXPECT_EQ(plan.trackOfSlot[slot], slot + 1) << slot;
  EXPECT_EQ(plan.trackOfSlot[3], mkv::kNoTrack);
}

TEST(MatroskaTracks, ConvertedAudioAloneAndWithoutVideo) {
  TrackTable t = Broadcast();
  t.selectedAudioPid = 0x103;
  t.selectedIsPrivate = true;
  RunSettings run;
  ConfigureRun(run, t, true);  // the AC-3 track converted to MPEG audio
  MatroskaTrackPlan plan;
  PlanMatroskaTracks(t, run, false, plan);
  ASSERT_EQ(plan.count, 1u);
  EXPECT_EQ(plan.videoTrack, mkv::kNoTrack);
  EXPECT_EQ(plan.setups[0].codec, TrackCodec::MpegL2);
  EXPECT_TRUE(plan.setups[0].isDefault);
  EXPECT_TRUE(plan.setups[0].visualImpaired);
  EXPECT_EQ(plan.trackOfSlot[0], 0u);
}

}  // namespace
}  // namespace kelvor
