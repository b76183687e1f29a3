// The audio paths behind the AC-3 frame assembler, on the real one-block
// E-AC-3 sample: frames of one block must keep the track in time whether
// they are rewritten as AC-3 or decoded to MPEG audio.
#include "convert/audio_paths.h"

#include <gtest/gtest.h>

#include <vector>

#include "convert/ac3_assembler.h"
#include "convert/run_setup.h"
#include "mux/mux_test_support.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

using test::AddPrivateTrack;

struct PathRig {
  TrackTable tracks;
  RunSettings run;
  StreamTiming timing;
  test::RecordingSink sink;
  Multiplexer mux{sink, run};
  AudioPaths paths{run, timing, mux};
  Ac3Assembler ac3{run, timing, mux, paths};

  explicit PathRig(bool toMpegAudio) {
    AddPrivateTrack(tracks, 0x200);
    ConfigureRun(run, tracks, toMpegAudio);
    timing.Reset();
    mux.ResetTiming();
    mux.BuildStreamHeaders(OutputFormat::Ts);
    paths.reset();
    ac3.Reset();
    timing.startFound = true;
  }
  // Every audio frame is a PES packet of its own in TS output.
  std::size_t framesOut() const {
    std::size_t n = 0;
    for (const auto& p : sink.packets) n += p[1] == 0x51 && p[2] == 0x00;
    return n;
  }
};

std::vector<std::vector<std::uint8_t>> OneBlockFrames() {
  const std::vector<std::uint8_t> bytes = test::ReadFile(test::PublicSample("sample.eac3"));
  std::vector<std::vector<std::uint8_t>> frames;
  for (std::size_t pos = 0; pos + 4 < bytes.size();) {
    const std::size_t length = 2 * ((std::size_t{bytes[pos + 2] & 7u} << 8) | bytes[pos + 3]) + 2;
    if (pos + length > bytes.size()) break;
    frames.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                        bytes.begin() + static_cast<std::ptrdiff_t>(pos + length));
    pos += length;
  }
  return frames;
}

struct Case {
  const char* what;
  int timedEvery;  // every n-th frame starts a PES with a time stamp
  int lostFrom, lostCount;      // frames lost in reception
  int repeatFrom, repeatCount;  // frames that arrive a second time
};

// Feeds the 54 one-block frames (PTS 480 apart) as the cases say.
std::size_t FramesOut(bool toMpegAudio, const Case& c) {
  const auto frames = OneBlockFrames();
  EXPECT_EQ(frames.size(), 54u);
  PathRig rig(toMpegAudio);
  std::vector<int> order;
  for (int i = 0; i < static_cast<int>(frames.size()); ++i) {
    if (i >= c.lostFrom && i < c.lostFrom + c.lostCount) continue;
    order.push_back(i);
    if (i == c.repeatFrom + c.repeatCount - 1) {
      for (int r = c.repeatFrom; r < c.repeatFrom + c.repeatCount; ++r) order.push_back(r);
    }
  }
  for (std::size_t n = 0; n < order.size(); ++n) {
    const int i = order[n];
    const bool timed = n % static_cast<std::size_t>(c.timedEvery) == 0;
    const PesStamp stamp{9000 + 480u * static_cast<std::uint32_t>(i), true};
    const bool ok = timed ? rig.ac3.StartPes(frames[static_cast<std::size_t>(i)], 0, stamp)
                          : rig.ac3.ContinuePes(frames[static_cast<std::size_t>(i)], 0);
    EXPECT_TRUE(ok);
  }
  return rig.framesOut();
}

constexpr Case kCases[] = {
    {"every frame timed", 1, -1, 0, -1, 0},
    {"one time stamp for three frames", 3, -1, 0, -1, 0},
    {"six frames lost", 1, 18, 6, -1, 0},
    {"24 frames again", 1, -1, 0, 20, 24},
};

TEST(AudioPaths, OneBlockEac3AsAc3KeepsItsTime) {
  if (!std::filesystem::exists(test::PublicSample("sample.eac3"))) GTEST_SKIP();
  // 54 blocks: nine AC-3 frames; a lost AC-3 frame's worth is filled once.
  for (const Case& c : kCases) EXPECT_EQ(FramesOut(false, c), 9u) << c.what;
}

TEST(AudioPaths, OneBlockEac3AsMpegAudioKeepsItsTime) {
  if (!std::filesystem::exists(test::PublicSample("sample.eac3"))) GTEST_SKIP();
  // 54 × 256 samples: twelve MPEG audio frames of 1152.
  for (const Case& c : kCases) EXPECT_EQ(FramesOut(true, c), 12u) << c.what;
}

}  // namespace
}  // namespace kelvor
