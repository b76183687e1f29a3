// The PID routes of a run: each audio track of the run by its PID and kind,
// the video, and nothing for tracks the run leaves out.
#include "convert/pid_routes.h"

#include <gtest/gtest.h>

#include <memory>

#include "convert/run_setup.h"
#include "mux/mux_test_support.h"

namespace kelvor {
namespace {

TEST(PidRoutes, RouteEachTrackOfTheRunByItsPidAndKind) {
  TrackTable t;
  t.video = Track{0x100, 0xE0, Codec::H264};
  test::AddMpegTrack(t, 0x101);
  test::AddMpegTrack(t, 0x102);
  test::AddPrivateTrack(t, 0x102);  // an AC-3 track on an MPEG audio track's PID
  test::AddPrivateTrack(t, 0x1FFF);
  RunSettings run;
  ConfigureRun(run, t, false);
  const auto routes = std::make_unique<PidRoutes>();
  routes->Build(t, run);

  const PidRoutes& r = *routes;
  EXPECT_TRUE(r[0x100].video);
  EXPECT_EQ(r[0x100].mpegAudio, PidRoutes::kNoTrack);
  EXPECT_EQ(r[0x101].mpegAudio, 0u);
  EXPECT_FALSE(r[0x101].video);
  EXPECT_EQ(r[0x102].mpegAudio, 1u);
  EXPECT_EQ(r[0x102].ac3, 2u);
  EXPECT_EQ(r[0x1FFF].ac3, 3u);
  EXPECT_EQ(r[0x103].mpegAudio, PidRoutes::kNoTrack);
  EXPECT_EQ(r[0x103].ac3, PidRoutes::kNoTrack);

  // A table whose tracks the run does not take (beyond its handlers) routes
  // nothing for them; a new build forgets the last run's routes.
  TrackTable mpegOnly;
  for (std::uint32_t k = 0; k < kMaxAudioTracks; ++k) mpegOnly.audio[k] = Track{0x200 + k, 0xC0, Codec::MpegAudio};
  mpegOnly.audioCount = kMaxAudioTracks;
  ConfigureRun(run, mpegOnly, false);
  routes->Build(mpegOnly, run);
  EXPECT_EQ(r[0x203].mpegAudio, 3u);
  EXPECT_EQ(r[0x204].mpegAudio, PidRoutes::kNoTrack);
  EXPECT_EQ(r[0x101].mpegAudio, PidRoutes::kNoTrack);
  EXPECT_FALSE(r[0x100].video);
}

}  // namespace
}  // namespace kelvor
