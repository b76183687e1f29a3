// The encoder as the audio path drives it: sample collection, frame layout,
// the output's refusals, and what silence and overloud input produce.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mpegenc/frame_writer.h"
#include "mpegenc/mpeg_audio_encoder.h"
#include "support/test_support.h"

namespace kelvor::mpegenc {
namespace {

struct RecordingSink final : MpegFrameSink {
  bool WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame) override {
    tracks.push_back(track);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    sizes.push_back(frame.size());
    return refuseAfter < 0 || static_cast<int>(sizes.size()) <= refuseAfter;
  }
  std::vector<std::uint32_t> tracks;
  std::vector<std::size_t> sizes;
  std::vector<std::uint8_t> bytes;
  int refuseAfter = -1;
};

std::vector<Q24> Tone(std::size_t n, double amplitude, double hz, std::size_t start = 0) {
  std::vector<Q24> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = static_cast<Q24>(std::lround(amplitude * 16777216.0 * std::sin(2 * M_PI * hz * static_cast<double>(start + i) / 48000.0)));
  }
  return v;
}

TEST(MpegEncoder, ThreeAc3FramesCompleteFourMpegFrames) {
  RecordingSink sink;
  auto enc = std::make_unique<MpegAudioEncoder>(sink, 2);
  const auto pcm = Tone(1536, 0.3, 1000);
  ASSERT_TRUE(enc->EncodeSamples(1, pcm, pcm, 1536));
  EXPECT_EQ(sink.sizes.size(), 1u);
  EXPECT_EQ(enc->samplesWaiting(1), 384u);
  ASSERT_TRUE(enc->EncodeSamples(1, pcm, pcm, 1536));
  ASSERT_TRUE(enc->EncodeSamples(1, pcm, pcm, 1536));
  EXPECT_EQ(sink.sizes.size(), 4u);
  EXPECT_EQ(enc->samplesWaiting(1), 0u);
  EXPECT_TRUE(enc->EncodeSamples(1, pcm, pcm, 0));
  EXPECT_EQ(enc->samplesWaiting(0), 0u);  // tracks are independent
  for (std::size_t f = 0; f < sink.sizes.size(); ++f) {
    EXPECT_EQ(sink.sizes[f], 1152u);
    EXPECT_EQ(sink.tracks[f], 3u);  // output track = base + track
    EXPECT_EQ(0, std::memcmp(&sink.bytes[1152 * f], kFrameHeader.data(), 4)) << f;
  }
}

TEST(MpegEncoder, RefusedFrameStopsAtOnce) {
  RecordingSink sink;
  sink.refuseAfter = 1;
  auto enc = std::make_unique<MpegAudioEncoder>(sink);
  const std::vector<Q24> pcm(4 * 1152, 0);
  EXPECT_FALSE(enc->EncodeSamples(0, pcm, pcm, pcm.size()));
  EXPECT_EQ(sink.sizes.size(), 2u);  // the second frame was refused; the rest dropped
  EXPECT_FALSE(enc->EncodeSamples(4, pcm, pcm, 10));  // no such track
}

TEST(MpegEncoder, SilenceUsesTheSmallestScaleFactorEverywhere) {
  // (The allocation still spends the budget on the lower subbands.)
  RecordingSink sink;
  auto enc = std::make_unique<MpegAudioEncoder>(sink);
  const std::vector<Q24> silence(1152, 0);
  ASSERT_TRUE(enc->EncodeSamples(0, silence, silence, 1152));
  const auto& d = enc->lastFrame();
  for (std::size_t ch = 0; ch < kChannels; ++ch) {
    for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
      for (const std::uint8_t i : d.scaleIndex[ch][sb]) EXPECT_EQ(i, 62);
      EXPECT_EQ(d.scale[ch][sb].scfsi, 2);  // pattern 111
    }
  }
}

TEST(MpegEncoder, ResetClearsHistories) {
  RecordingSink a;
  RecordingSink b;
  auto used = std::make_unique<MpegAudioEncoder>(a);
  auto fresh = std::make_unique<MpegAudioEncoder>(b);
  const auto tone = Tone(1152, 0.5, 440);
  const auto other = Tone(1000, 0.9, 3000);
  ASSERT_TRUE(used->EncodeSamples(0, other, other, 1000));  // leaves samples waiting and history
  used->reset(0);
  ASSERT_TRUE(used->EncodeSamples(0, tone, tone, 1152));
  ASSERT_TRUE(fresh->EncodeSamples(0, tone, tone, 1152));
  EXPECT_EQ(a.bytes, b.bytes);
}

TEST(MpegEncoder, QuantisedCodesStayInsideTheirLevels) {
  const Q24 extremes[] = {0x7FFFFFFF, -0x7FFFFFFF - 1, kScaleFactor[0] - 1, -(kScaleFactor[0] - 1), 0, 1, -1};
  for (std::size_t c = 0; c < kQuantClass.size(); ++c) {
    for (const Q24 s : extremes) {
      EXPECT_LT(QuantiseSample(s, kScaleFactor[0], static_cast<int>(c)), static_cast<std::uint32_t>(kQuantClass[c].levels))
          << c << " " << s;
    }
    // Zero sits in the middle code; the extremes at the ends.
    EXPECT_EQ(QuantiseSample(0, kScaleFactor[10], static_cast<int>(c)), static_cast<std::uint32_t>(kQuantClass[c].levels / 2));
    EXPECT_EQ(QuantiseSample(kScaleFactor[10] - 1, kScaleFactor[10], static_cast<int>(c)),
              static_cast<std::uint32_t>(kQuantClass[c].levels - 1));
    EXPECT_EQ(QuantiseSample(-(kScaleFactor[10] - 1), kScaleFactor[10], static_cast<int>(c)), 0u);
  }
}

TEST(MpegEncoder, FastQuantisationEqualsTheDefinition) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> index(0, 62);
  std::uniform_int_distribution<Q24> any(std::numeric_limits<Q24>::min(), std::numeric_limits<Q24>::max());
  for (int round = 0; round < 1000; ++round) {
    std::array<Q24, 3> f;
    for (Q24& v : f) v = kScaleFactor[static_cast<std::size_t>(index(rng))];
    std::array<Q24, 2 * kSlots> s;  // every other one, to test the stride
    for (std::size_t t = 0; t < s.size(); ++t) {
      const Q24 fp = f[t / 24];
      std::uniform_int_distribution<Q24> inside(-(fp - 1), fp - 1);
      s[t] = round % 10 == 0 ? any(rng) : t % 24 == 0 ? fp - 1 : t % 24 == 2 ? fp / 2 : inside(rng);
    }
    const int c = round % 17;
    for (const SimdLevel level : {SimdLevel::kPlain, SimdLevel::kAvx2, SimdLevel::kAvx512}) {
      std::array<std::uint16_t, kSlots> code;
      QuantiseSubband(s.data(), 2, f, kQuantClass[static_cast<std::size_t>(c)], code.data(), level);
      for (std::size_t t = 0; t < code.size(); ++t) {
        ASSERT_EQ(code[t], QuantiseSample(s[2 * t], f[t / 12], c)) << s[2 * t] << " / " << f[t / 12] << " level " << int(level);
      }
    }
  }
}

// Input far beyond full scale (the AC-3 decoder does not clip) must still give
// codes inside their fields: a decoder reads the stream without error.
TEST(MpegEncoder, OverloudInputStaysDecodable) {
  RecordingSink sink;
  auto enc = std::make_unique<MpegAudioEncoder>(sink);
  std::vector<Q24> loud(1152 * 8);
  for (std::size_t i = 0; i < loud.size(); ++i) loud[i] = (i / 7) % 2 ? 0x7FFFFFFF : -0x7FFFFFFF - 1;
  const auto tone = Tone(loud.size(), 3.0, 1000);
  ASSERT_TRUE(enc->EncodeSamples(0, loud, tone, loud.size()));
  const auto dir = test::TempDir();
  test::WriteFile(dir / "loud.mp2", sink.bytes);
  std::string out;
  const int rc = test::RunCommand("ffmpeg -v error -xerror -i " + (dir / "loud.mp2").string() + " -f null - 2>&1", &out);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace kelvor::mpegenc
