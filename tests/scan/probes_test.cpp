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

// `count` frames with the given first three header bytes, each as long as
// its header says (an ADTS header says it in bytes 3..5).
Bytes Frames(std::initializer_list<std::uint8_t> header, std::size_t length, int count) {
  Bytes out;
  for (int k = 0; k < count; ++k) {
    Bytes f(header);
    while (f.size() < length) f.push_back(static_cast<std::uint8_t>(0x11 * (f.size() % 5)));
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

TEST(MpegAudioProbe, FindsAHeaderSplitAcrossPacketsOnceTheNextTwoFollowIt) {
  MpegAudioProbe probe;
  AudioProbeResult r;
  const Bytes stream = Frames({0xFF, 0xFD, 0xC4, 0x44}, 768, 3);  // Layer II 256k 48 kHz
  EXPECT_FALSE(probe.probe(Bytes{0x12, 0xFF}, r));
  EXPECT_FALSE(probe.probe(std::span(stream).subspan(1, 2), r));
  EXPECT_FALSE(probe.probe(std::span(stream).subspan(3, 1535), r));  // two headers are not enough
  ASSERT_TRUE(probe.probe(std::span(stream).subspan(1538), r));
  EXPECT_TRUE(r.carried());
  EXPECT_EQ(r.layer, 2u);
  EXPECT_EQ(r.bitrateIndex, 12u);  // 256 kbit/s
  EXPECT_EQ(r.samplingIndex, 1u);  // 48 kHz
  EXPECT_EQ(r.mode, 1u);           // joint stereo
  EXPECT_EQ(MpegAudioLabel(0x44, r, "[fra]"), "[0044] MPEG L2 256Kb 48KHz Joint Stereo [fra]");
}

// Each kind is recognised from three frames in a row; only MPEG-1 Layer I
// and II are carried. ADTS frames of 371 bytes: 0x2E in bits of bytes 3..5.
TEST(MpegAudioProbe, TellsTheKindsApart) {
  struct Case {
    Bytes frames;
    AudioHeaderKind kind;
  };
  const Case cases[] = {
      {Frames({0xFF, 0xFF, 0x42, 0xC0}, 140, 3), AudioHeaderKind::Mpeg1Layer12},  // Layer I 44.1k, padded
      {Frames({0xFF, 0xFD, 0xE8, 0x00}, 1728, 3), AudioHeaderKind::Mpeg1Layer12},  // Layer II 32k
      {Frames({0xFF, 0xFB, 0x90, 0x44}, 417, 3), AudioHeaderKind::Mpeg1Layer3},
      {Frames({0xFF, 0xF5, 0x84, 0x44}, 384, 3), AudioHeaderKind::LowSamplingRate},  // Layer II 64k 24 kHz
      {Frames({0xFF, 0xE3, 0x84, 0x44}, 384, 3), AudioHeaderKind::Mpeg25},  // Layer III 64k 12 kHz
      {Frames({0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC}, 371, 3), AudioHeaderKind::Aac},
      {Frames({0xFF, 0xFD, 0x04, 0x44}, 500, 8), AudioHeaderKind::FreeFormat},
  };
  for (const Case& c : cases) {
    MpegAudioProbe probe;
    AudioProbeResult r;
    ASSERT_TRUE(probe.probe(c.frames, r)) << static_cast<int>(c.kind);
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.carried(), c.kind == AudioHeaderKind::Mpeg1Layer12);
    EXPECT_EQ(NotCarriedReason(r.kind)[0] == '\0', r.carried());
  }
}

// Noise, and AAC frames whose payload is strewn with MPEG audio headers,
// never pass for an MPEG track.
TEST(MpegAudioProbe, NoiseAndAacAreNeverTakenForMpegAudio) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    Bytes data(20000);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    if (round % 2 == 1) {  // ADTS frames of 371 bytes
      for (std::size_t pos = 0; pos + 7 <= data.size(); pos += 371) {
        const std::uint8_t adts[] = {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC};
        std::copy(std::begin(adts), std::end(adts), data.begin() + static_cast<std::ptrdiff_t>(pos));
      }
    }
    for (int k = 0; k < 60; ++k) {
      const std::size_t at = random() % (data.size() - 4);
      const std::uint8_t b2 = static_cast<std::uint8_t>(((random() % 14 + 1) << 4) | 0x04);
      data[at] = 0xFF, data[at + 1] = 0xFD, data[at + 2] = b2, data[at + 3] = 0x44;
    }
    MpegAudioProbe probe;
    AudioProbeResult r;
    for (std::size_t pos = 0; pos < data.size(); pos += 184) {
      if (probe.probe(std::span(data).subspan(pos, std::min<std::size_t>(184, data.size() - pos)), r)) {
        EXPECT_FALSE(r.carried()) << "round " << round;
        if (round % 2 == 1) {
          EXPECT_EQ(r.kind, AudioHeaderKind::Aac);
        }
        break;
      }
    }
  }
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
  Bytes reservedRate = test::Ac3Frame(7, 1, 0x1C, 3);
  reservedRate.insert(reservedRate.end(), {0x0B, 0x77});
  EXPECT_TRUE(fails(reservedRate));
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
  EXPECT_FALSE(probe.probe(std::span(header).first(5), Codec::Mpeg2Video, rate));
  EXPECT_TRUE(probe.probe(std::span(header).subspan(5), Codec::Mpeg2Video, rate));
  EXPECT_EQ(rate, 0x3A98u * 2 + 1);
  // Other start codes are no sequence header.
  EXPECT_FALSE(probe.probe(Bytes{0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00}, Codec::Mpeg2Video, rate));
}

TEST(VideoProbe, AcceptsH264AtAnIdrThatBeginsAnAccessUnitOrAfterManySlices) {
  H264IdrState idr;
  VideoProbe probe(idr);
  probe.Reset();
  std::uint32_t rate = 0;
  const Bytes idrSlice{0x00, 0x00, 0x01, 0x65, 0x88};
  const Bytes delimiter{0x00, 0x00, 0x00, 0x01, 0x09, 0xF0};
  const Bytes slice{0x00, 0x00, 0x01, 0x41, 0x9A};
  EXPECT_FALSE(probe.probe(idrSlice, Codec::H264, rate));  // no delimiter before it
  EXPECT_FALSE(idr.idrSeen);
  EXPECT_FALSE(probe.probe(delimiter, Codec::H264, rate));
  EXPECT_TRUE(probe.probe(idrSlice, Codec::H264, rate));
  EXPECT_EQ(rate, kH264AssumedBitRate);
  EXPECT_TRUE(idr.idrSeen);

  // Without delimiters a parameter set begins the access unit of an IDR.
  probe.Reset();
  EXPECT_FALSE(probe.probe(Bytes{0x00, 0x00, 0x01, 0x68, 0xEB}, Codec::H264, rate));
  EXPECT_TRUE(probe.probe(idrSlice, Codec::H264, rate));

  // Without delimiters: the 256th non-IDR slice is taken as a start.
  probe.Reset();
  EXPECT_FALSE(idr.idrSeen);
  rate = 0;
  for (int i = 1; i <= 255; ++i) ASSERT_FALSE(probe.probe(slice, Codec::H264, rate)) << i;
  EXPECT_TRUE(probe.probe(slice, Codec::H264, rate));
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
      video.probe(piece, round % 4 == 1 ? Codec::H264 : Codec::Mpeg2Video, rate);
    }
    EXPECT_LT(rate, 1u << 18);
  }
}

}  // namespace
}  // namespace kelvor
