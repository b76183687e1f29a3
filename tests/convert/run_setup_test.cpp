// Run settings: output stream counts and the numbering of audio outputs.
#include "convert/run_setup.h"

#include <gtest/gtest.h>

#include "mux/mux_test_support.h"
#include "convert/stream_timing.h"

namespace kelvor {
namespace {

using test::AddMpegTrack;
using test::AddPrivateTrack;

TrackTable TwoMpegOnePrivate() {
  TrackTable t;
  AddMpegTrack(t, 0x101);
  AddMpegTrack(t, 0x102);
  AddPrivateTrack(t, 0x201);
  return t;
}

TEST(RunSettings, CountsFollowTheSelectionAndTheConversionFlag) {
  TrackTable t = TwoMpegOnePrivate();
  RunSettings run;

  ConfigureRun(run, t, true);  // all tracks, converted
  EXPECT_EQ(run.audioTrackTotal, 3u);
  EXPECT_EQ(run.mpegOutCount, 3u);
  EXPECT_EQ(run.ac3OutCount, 0u);

  ConfigureRun(run, t, false);  // all tracks, AC-3 kept
  EXPECT_EQ(run.mpegOutCount, 2u);
  EXPECT_EQ(run.ac3OutCount, 1u);

  t.selectedAudioPid = 0x201;
  t.selectedIsPrivate = true;
  ConfigureRun(run, t, false);
  EXPECT_EQ(run.mpegOutCount, 0u);
  EXPECT_EQ(run.ac3OutCount, 1u);
  ConfigureRun(run, t, true);  // one AC-3 track converted is one MPEG audio stream
  EXPECT_EQ(run.mpegOutCount, 1u);
  EXPECT_EQ(run.ac3OutCount, 0u);

  t.selectedAudioPid = 0x102;
  t.selectedIsPrivate = false;
  ConfigureRun(run, t, false);
  EXPECT_EQ(run.mpegOutCount, 1u);
  EXPECT_EQ(run.ac3OutCount, 0u);

  // Video alone: no audio stream is declared.
  ConfigureRun(run, TrackTable{}, false);
  EXPECT_EQ(run.slotCount(), 0u);
  EXPECT_EQ(run.outputCount, 0u);
}

// The check box keeps its tick while an MPEG audio row is chosen: the
// conversion flag counts only when the choice holds an AC-3/E-AC-3 track.
TEST(RunSettings, ConversionFlagNeedsAnAc3TrackInTheChoice) {
  TrackTable t = TwoMpegOnePrivate();
  RunSettings run;
  t.selectedAudioPid = 0x102;
  ConfigureRun(run, t, true);
  EXPECT_FALSE(run.convertAc3ToMpeg);
  t.selectedAudioPid = 0x201;
  ConfigureRun(run, t, true);
  EXPECT_TRUE(run.convertAc3ToMpeg);

  TrackTable mpegOnly;
  AddMpegTrack(mpegOnly, 0x101);
  ConfigureRun(run, mpegOnly, true);  // all tracks, none of them AC-3
  EXPECT_FALSE(run.convertAc3ToMpeg);
}

TEST(RunSettings, NumbersTracksAndSlots) {
  TrackTable t = TwoMpegOnePrivate();
  AddPrivateTrack(t, 0x202);
  RunSettings run;
  ConfigureRun(run, t, false);
  ASSERT_EQ(run.outputCount, 4u);
  // AC-3 track j is audio track (MPEG tracks) + j; with all tracks the
  // slot is the track index.
  EXPECT_EQ(run.privateTrack(1), 3u);
  EXPECT_EQ(run.outputs[3].track, 3u);
  EXPECT_EQ(run.outputs[3].slot, 3u);
  EXPECT_TRUE(run.outputs[3].ac3);
  EXPECT_FALSE(run.outputs[1].ac3);

  // One selected track always has slot 0 but keeps its track index.
  t.selectedAudioPid = 0x202;
  t.selectedIsPrivate = true;
  ConfigureRun(run, t, false);
  ASSERT_EQ(run.outputCount, 1u);
  EXPECT_EQ(run.outputs[0].track, 3u);
  EXPECT_EQ(run.outputs[0].slot, 0u);
  EXPECT_EQ(run.slotOf(3), 0u);
  EXPECT_EQ(run.outputForTrack(3), &run.outputs[0]);
  EXPECT_EQ(run.outputForTrack(0), nullptr);
}

TEST(RunSettings, TakesAsManyTracksOfEachKindAsTheirHandlersHold) {
  // A count beyond the table, four tracks of each kind.
  TrackTable t;
  for (std::uint32_t k = 0; k < 4; ++k) AddPrivateTrack(t, 0x200 + k);
  for (std::uint32_t k = 0; k < 4; ++k) AddMpegTrack(t, 0x100 + k);
  t.audioCount = 277;
  RunSettings run;
  ConfigureRun(run, t, false);
  EXPECT_EQ(run.audioTrackTotal, 8u);
  EXPECT_EQ(run.firstPrivateTrack, 4u);
  EXPECT_EQ(run.outputCount, 8u);
  EXPECT_EQ(run.slotCount(), 8u);
  EXPECT_EQ(run.outputs[4].pid, 0x200u);
  EXPECT_TRUE(run.outputs[4].ac3);

  // Eight MPEG audio tracks in a table filled by hand: the first four go out.
  TrackTable mpeg;
  for (std::uint32_t k = 0; k < kMaxAudioTracks; ++k) mpeg.audio[k] = Track{0x100 + k, 0xC0, Codec::MpegAudio};
  mpeg.audioCount = kMaxAudioTracks;
  ConfigureRun(run, mpeg, true);
  EXPECT_EQ(run.audioTrackTotal, 4u);
  EXPECT_EQ(run.outputCount, 4u);
  EXPECT_FALSE(run.convertAc3ToMpeg);
}

TEST(StreamTiming, DifferencesWrapAroundAndResetClearsEverything) {
  EXPECT_EQ(TimeDifference(5, 0xFFFFFFFBu), 10);
  EXPECT_EQ(TimeDifference(0xFFFFFFFBu, 5), -10);
  StreamTiming timing;
  timing.startFound = true;
  timing.audioStarted[7] = true;
  timing.videoTime = 42;
  timing.Reset();
  EXPECT_FALSE(timing.startFound);
  EXPECT_FALSE(timing.audioStarted[7]);
  EXPECT_EQ(timing.videoTime, 0u);
}

}  // namespace
}  // namespace kelvor
