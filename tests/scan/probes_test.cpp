// The elementary stream probes: headers found across packet boundaries,
// unsupported variants refused, and no trouble with garbage.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "scan/ac3_probe.h"
#include "scan/mpeg_audio_probe.h"
#include "scan/track_labels.h"
#include "scan/video_probe.h"
#include "support/ts_builder.h"

namespace kelvor {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MpegAudioProbe, FindsAHeaderSplitAcrossPackets) {
  MpegAudioProbe probe;
  AudioProbeResult r;
  EXPECT_FALSE(probe.probe(Bytes{0x12, 0xFF}, r));
  EXPECT_FALSE(probe.probe(Bytes{0xFD, 0xC4}, r));
  EXPECT_FALSE(probe.probe(Bytes{}, r));
  ASSERT_TRUE(probe.probe(Bytes{0x44}, r));
  EXPECT_EQ(r.layer, 2u);
  EXPECT_EQ(r.bitrateIndex, 12u);  // 256 kbit/s
  EXPECT_EQ(r.samplingIndex, 1u);  // 48 kHz
  EXPECT_EQ(r.mode, 1u);           // joint stereo
  EXPECT_EQ(MpegAudioLabel(0x44, r, "[fra]"), "[0044] MPEG L2 256Kb 48KHz Joint Stereo [fra]");
}

TEST(MpegAudioProbe, RefusesLayerThreeHalfRateAndBadBitRates) {
  MpegAudioProbe probe;
  AudioProbeResult r;
  // Layer III, MPEG-2 half-rate Layer II, free format, forbidden bit rate.
  EXPECT_FALSE(probe.probe(Bytes{0xFF, 0xFB, 0x90, 0x44, 0xFF, 0xF5, 0x90, 0x44, 0xFF, 0xFD, 0x04, 0x44,
                                 0xFF, 0xFD, 0xF4, 0x44},
                           r));
  // A run of 0xFF before the real header does not hide it; Layer I is taken.
  ASSERT_TRUE(probe.probe(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x94, 0xC0}, r));
  EXPECT_EQ(r.layer, 1u);
  EXPECT_EQ(r.bitrateIndex, 9u);
  EXPECT_EQ(r.samplingIndex, 1u);
  EXPECT_EQ(r.mode, 3u);
  EXPECT_EQ(MpegAudioLabel(0x1FFE, r, ""), "[1FFE] MPEG L1 288Kb 48KHz Mono ");
}

TEST(Ac3Probe, ReadsTheLayoutOfAWholeFrameFollowedBySync) {
  for (unsigned acmod = 0; acmod < 8; ++acmod) {
    for (unsigned lfe = 0; lfe < 2; ++lfe) {
      Ac3Probe probe;
      Ac3ProbeResult r;
      Bytes stream = test::Ac3Frame(acmod, lfe);
      stream.insert(stream.begin(), {0x00, 0x0B, 0x0B});  // junk and a false start
      stream.insert(stream.end(), {0x0B, 0x77});
      // Feed in 184-byte slices, as TS packets would.
      bool found = false;
      for (std::size_t pos = 0; pos < stream.size() && !found; pos += 184) {
        const std::size_t n = std::min<std::size_t>(184, stream.size() - pos);
        found = probe.probe(std::span(stream).subspan(pos, n), r);
      }
      ASSERT_TRUE(found) << acmod;
      constexpr unsigned kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // dual mono shows as 2
      EXPECT_EQ(r.channels, kChannels[acmod]);
      EXPECT_EQ(r.lfe, lfe);
      EXPECT_FALSE(r.isEac3);
    }
  }
  Ac3Probe probe;
  Ac3ProbeResult r;
  Bytes frame = test::Ac3Frame(0, 1);
  frame.insert(frame.end(), {0x0B, 0x77});
  ASSERT_TRUE(probe.probe(frame, r));
  EXPECT_EQ(Ac3Label(0x45, r, "[eng]"), "[0045] AC3 2.1 [eng]");
}

TEST(Ac3Probe, RefusesOtherRatesDependentSubstreamsAndUnfollowedFrames) {
  const auto fails = [](Bytes stream) {
    Ac3Probe probe;
    Ac3ProbeResult r;
    return !probe.probe(stream, r);
  };
  Bytes at44k = test::Ac3Frame(7, 1, 0x1C, 1);
  at44k.insert(at44k.end(), {0x0B, 0x77});
  EXPECT_TRUE(fails(at44k));
  Bytes dependent = test::Eac3Frame(7, 1, 191, 1);
  dependent.insert(dependent.end(), {0x0B, 0x77});
  EXPECT_TRUE(fails(dependent));
  Bytes substream1 = test::Eac3Frame(7, 1, 191, 0, 1);
  substream1.insert(substream1.end(), {0x0B, 0x77});
  EXPECT_TRUE(fails(substream1));
  Bytes unfollowed = test::Ac3Frame(2, 0);
  unfollowed.insert(unfollowed.end(), {0x0B, 0x78});
  EXPECT_TRUE(fails(unfollowed));
  Bytes badSize = test::Ac3Frame(2, 0, 38);  // frmsizecod 38 is out of the table
  badSize.insert(badSize.end(), {0x0B, 0x77});
  EXPECT_TRUE(fails(badSize));
  // A frame size too small to hold a header (frmsiz 0 and 1) is refused.
  EXPECT_TRUE(fails(Bytes{0x0B, 0x77, 0x00, 0x00, 0x30, 0x80, 0x0B, 0x77, 0x0B, 0x77}));
  EXPECT_TRUE(fails(Bytes{0x0B, 0x77, 0x00, 0x01, 0x30, 0x80, 0x0B, 0x77, 0x0B, 0x77}));
}

TEST(Ac3Probe, ListsEac3WithItsLayout) {
  Ac3Probe probe;
  Ac3ProbeResult r;
  Bytes frame = test::Eac3Frame(7, 1);
  frame.insert(frame.end(), {0x0B, 0x77});
  ASSERT_TRUE(probe.probe(frame, r));
  EXPECT_TRUE(r.isEac3);
  // No language: the row ends with the blank before the empty language text.
  EXPECT_EQ(Ac3Label(0x1100, r, ""), "[1100] E-AC3 5.1 ");
}

Bytes SequenceHeader(std::uint32_t bitRateValue) {
  // 720x576, aspect 2, 25 fps, then the 18-bit bit_rate_value and a marker.
  return Bytes{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23,
               static_cast<std::uint8_t>(bitRateValue >> 10), static_cast<std::uint8_t>(bitRateValue >> 2),
               static_cast<std::uint8_t>(((bitRateValue & 3) << 6) | 0x20), 0x00};
}

TEST(VideoProbe, ReadsTheMpeg2BitRateEvenWhenSplit) {
  H264IdrState idr;
  VideoProbe probe(idr);
  probe.Reset();
  std::uint32_t rate = 0;
  const Bytes header = SequenceHeader(0x3A98 * 2 + 1);  // 12,000,400 bit/s
  EXPECT_FALSE(probe.probe(std::span(header).first(5), false, rate));
  EXPECT_TRUE(probe.probe(std::span(header).subspan(5), false, rate));
  EXPECT_EQ(rate, 0x3A98u * 2 + 1);
  // Other start codes are no sequence header.
  EXPECT_FALSE(probe.probe(Bytes{0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00}, false, rate));
}

TEST(VideoProbe, AcceptsH264AtAnIdrAfterADelimiterOrAfterManySlices) {
  H264IdrState idr;
  VideoProbe probe(idr);
  probe.Reset();
  std::uint32_t rate = 0;
  const Bytes idrSlice{0x00, 0x00, 0x01, 0x65, 0x88};
  const Bytes delimiter{0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};
  const Bytes slice{0x00, 0x00, 0x01, 0x41, 0x9A};
  EXPECT_FALSE(probe.probe(idrSlice, true, rate));  // no delimiter before it
  EXPECT_FALSE(idr.idrSeen);
  EXPECT_FALSE(probe.probe(delimiter, true, rate));
  EXPECT_TRUE(probe.probe(idrSlice, true, rate));
  EXPECT_EQ(rate, kH264AssumedBitRate);
  EXPECT_TRUE(idr.idrSeen);

  // Without delimiters: the 256th non-IDR slice is taken as a start.
  probe.Reset();
  EXPECT_FALSE(idr.idrSeen);
  rate = 0;
  for (int i = 1; i <= 255; ++i) ASSERT_FALSE(probe.probe(slice, true, rate)) << i;
  EXPECT_TRUE(probe.probe(slice, true, rate));
  EXPECT_EQ(idr.sliceCount, 256u);
}

TEST(Probes, SurviveRandomAndBitFlippedInput) {
  std::mt19937 random(1234);
  Bytes valid = test::Ac3Frame(7, 1);
  const Bytes eac3 = test::Eac3Frame(2, 0);
  valid.insert(valid.end(), eac3.begin(), eac3.end());
  const Bytes mpeg = test::MpegAudioFrame();
  valid.insert(valid.end(), mpeg.begin(), mpeg.end());
  const Bytes seq = SequenceHeader(5000);
  valid.insert(valid.end(), seq.begin(), seq.end());
  H264IdrState idr;
  VideoProbe video(idr);
  for (int round = 0; round < 2000; ++round) {
    Bytes data = valid;
    if (round % 2 == 0) {
      for (auto& b : data) b = static_cast<std::uint8_t>(random());
    } else {
      for (int k = 0; k < 8; ++k) data[random() % data.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    }
    MpegAudioProbe mp;
    Ac3Probe ac3;
    AudioProbeResult ar;
    Ac3ProbeResult cr;
    std::uint32_t rate = 0;
    for (std::size_t pos = 0; pos < data.size(); pos += 97) {
      const auto piece = std::span(data).subspan(pos, std::min<std::size_t>(97, data.size() - pos));
      mp.probe(piece, ar);
      if (ac3.probe(piece, cr)) {
        EXPECT_LE(cr.channels, 5u);
        EXPECT_LE(cr.lfe, 1u);
      }
      video.probe(piece, round % 4 == 1, rate);
    }
    EXPECT_LT(rate, 1u << 18);
  }
}

}  // namespace
}  // namespace kelvor
