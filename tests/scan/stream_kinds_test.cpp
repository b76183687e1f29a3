// What the scan tells of the streams it does not carry: the codec a PMT
// entry names, the headers of AAC, DTS and TrueHD, the standard tables they
// are read with, and AC-3 at the rates the conversion leaves out.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "scan/ac3_probe.h"
#include "scan/audio_format_probe.h"
#include "scan/dts_tables.h"
#include "scan/stream_codec.h"
#include "scan/track_labels.h"
#include "support/ts_builder.h"

namespace kelvor {
namespace {

using Bytes = std::vector<std::uint8_t>;

// MSB-first bit packing for hand-made headers.
struct Bits {
  Bytes bytes;
  unsigned used = 0;
  Bits& put(std::uint32_t value, unsigned width) {
    for (unsigned k = width; k-- > 0;) {
      if (used % 8 == 0) bytes.push_back(0);
      bytes.back() = static_cast<std::uint8_t>(bytes.back() | (((value >> k) & 1u) << (7 - used % 8)));
      ++used;
    }
    return *this;
  }
};

// A DTS core frame of `size` bytes with the given AMODE, SFREQ and LFF.
Bytes DtsFrame(unsigned amode, unsigned sfreq, unsigned lff, unsigned size = 1006) {
  Bits b;
  b.put(0x7FFE8001, 32).put(1, 1).put(31, 5).put(0, 1).put(15, 7).put(size - 1, 14);
  b.put(amode, 6).put(sfreq, 4).put(15, 5).put(0, 5).put(0, 3).put(0, 1).put(0, 1).put(lff, 2);
  b.bytes.resize(size, 0x00);
  return b.bytes;
}

TEST(CodecOfStream, NamesEachStreamTypeAndEachPrivateStreamByItsDescriptors) {
  struct Case {
    std::uint8_t type;
    Bytes descriptors;
    bool m2ts;
    Codec codec;
  };
  const std::vector<Case> cases = {
      {0x02, {}, false, Codec::Mpeg2Video},
      {0x1B, {}, false, Codec::H264},
      {0x04, {}, false, Codec::MpegAudio},
      {0x0F, {}, false, Codec::AacAdts},
      {0x11, {}, false, Codec::AacLatm},
      {0x81, {}, false, Codec::Ac3},
      {0x87, {}, false, Codec::Eac3},
      {0x82, {}, false, Codec::Dts},
      {0x83, {}, false, Codec::TrueHd},
      {0x86, {}, true, Codec::Dts},     // DTS-HD master audio in M2TS
      {0x86, {}, false, Codec::None},   // splice information in a broadcast
      {0x84, {}, true, Codec::Eac3},
      {0x90, {}, true, Codec::Pgs},
      {0x24, {}, false, Codec::Hevc},
      {0x33, {}, false, Codec::None},  // VVC
      {0x06, {0x6A, 1, 0x00}, false, Codec::Ac3},
      {0x06, {0x0A, 4, 'f', 'r', 'a', 0, 0x7A, 1, 0x00}, false, Codec::Eac3},  // after the language
      {0x06, {0x7B, 5, 0, 0, 0, 0, 0}, false, Codec::Dts},
      {0x06, {0x7F, 2, 0x0E, 0x00}, false, Codec::Dts},                    // DTS-HD extension
      {0x06, {0x7F, 2, 0x15, 0x00}, false, Codec::None},                   // AC-4: not known
      {0x06, {0x05, 4, 'E', 'A', 'C', '3'}, false, Codec::Eac3},
      {0x06, {0x05, 4, 'D', 'T', 'S', '2'}, false, Codec::Dts},
      {0x06, {0x59, 8, 'd', 'e', 'u', 0x10, 0, 1, 0, 1}, false, Codec::DvbSubtitle},
      {0x06, {0x56, 5, 'e', 'n', 'g', 0x10, 0x88}, false, Codec::Teletext},
      {0x06, {}, false, Codec::None},
      {0x06, {0x59, 9, 'd', 'e', 'u'}, false, Codec::None},  // runs past the loop
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodecOfStream(c.type, c.descriptors, c.m2ts), c.codec)
        << "type " << int{c.type} << " first descriptor " << (c.descriptors.empty() ? -1 : c.descriptors[0]);
  }
}

TEST(AudioFormatProbe, ReadsAdtsOnlyWhereTheNextFrameFollows) {
  // AAC-LC 48 kHz stereo, 295-byte frames.
  Bytes frame = {0xFF, 0xF1, 0x4C, 0x80, 0x24, 0xFF, 0xFC};
  frame.resize(295, 0x21);
  Bytes two = frame;
  two.insert(two.end(), frame.begin(), frame.begin() + 2);
  AudioFormat f;
  ASSERT_TRUE(ProbeAudioFormat(Codec::AacAdts, two, f));
  EXPECT_EQ(f.objectType, 2u);
  EXPECT_EQ(f.sampleRate, 48000u);
  EXPECT_EQ(f.channels, 2u);
  EXPECT_EQ(DescribeAudioFormat(Codec::AacAdts, f), "AAC-LC 48 kHz 2 ch");
  // A header whose frame is followed by something else is a false start.
  Bytes broken = frame;
  broken.insert(broken.end(), {0x12, 0x34});
  AudioFormat g;
  EXPECT_FALSE(ProbeAudioFormat(Codec::AacAdts, broken, g));
  EXPECT_EQ(DescribeAudioFormat(Codec::AacAdts, g), "");
}

TEST(AudioFormatProbe, ReadsTheLatmConfigurationAfterJunk) {
  const Bytes loas = {0x00, 0x56, 0x56, 0xE1, 0x28, 0x20, 0x00, 0x11, 0x90, 0x1F, 0xE7, 0xF9, 0x0E, 0xF0};
  AudioFormat f;
  ASSERT_TRUE(ProbeAudioFormat(Codec::AacLatm, loas, f));
  EXPECT_EQ(DescribeAudioFormat(Codec::AacLatm, f), "AAC-LC 48 kHz 2 ch");
  // A frame that refers to an earlier configuration tells nothing.
  AudioFormat g;
  EXPECT_FALSE(ProbeAudioFormat(Codec::AacLatm, Bytes{0x56, 0xE1, 0x28, 0xA0, 0x00}, g));
}

TEST(AudioFormatProbe, ReadsDtsCoreRateChannelsAndExtensions) {
  Bytes core = DtsFrame(9, 13, 1);
  AudioFormat f;
  ASSERT_TRUE(ProbeAudioFormat(Codec::Dts, core, f));
  EXPECT_EQ(DescribeAudioFormat(Codec::Dts, f), "DTS 48 kHz 5.1");
  core.insert(core.end(), {0x64, 0x58, 0x20, 0x25});
  ASSERT_TRUE(ProbeAudioFormat(Codec::Dts, core, f));
  EXPECT_EQ(DescribeAudioFormat(Codec::Dts, f), "DTS 48 kHz 5.1 +HD");
  AudioFormat g;
  ASSERT_TRUE(ProbeAudioFormat(Codec::Dts, DtsFrame(0, 8, 0), g));
  EXPECT_EQ(DescribeAudioFormat(Codec::Dts, g), "DTS 44.1 kHz 1.0");
  // An invalid rate code, a reserved LFE code and a frame too short are
  // refused.
  EXPECT_FALSE(ProbeAudioFormat(Codec::Dts, DtsFrame(2, 4, 0), g));
  EXPECT_FALSE(ProbeAudioFormat(Codec::Dts, DtsFrame(2, 13, 3), g));
  EXPECT_FALSE(ProbeAudioFormat(Codec::Dts, DtsFrame(2, 13, 0, 50), g));
}

TEST(AudioFormatProbe, DtsTablesHoldTheStandardRatesAndLayouts) {
  EXPECT_EQ(kDtsSampleRates[1], 8000u);
  EXPECT_EQ(kDtsSampleRates[3], 32000u);
  EXPECT_EQ(kDtsSampleRates[8], 44100u);
  EXPECT_EQ(kDtsSampleRates[12], 24000u);
  EXPECT_EQ(kDtsSampleRates[13], 48000u);
  for (unsigned invalid : {0u, 4u, 5u, 9u, 10u, 14u, 15u}) EXPECT_EQ(kDtsSampleRates[invalid], 0u) << invalid;
  EXPECT_EQ(kDtsChannels[0], 1);   // mono
  EXPECT_EQ(kDtsChannels[2], 2);   // L R
  EXPECT_EQ(kDtsChannels[9], 5);   // C L R SL SR
  EXPECT_EQ(kDtsChannels[15], 8);
}

TEST(AudioFormatProbe, ReadsTheTrueHdRateAndSurvivesNoise) {
  Bytes unit = {0x00, 0x00, 0x00, 0x00, 0xF8, 0x72, 0x6F, 0xBA, 0x80, 0x00};
  AudioFormat f;
  ASSERT_TRUE(ProbeAudioFormat(Codec::TrueHd, unit, f));
  EXPECT_EQ(DescribeAudioFormat(Codec::TrueHd, f), "TrueHD 44.1 kHz");
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    Bytes noise(random() % 300);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    if (noise.size() > 12 && round % 3 == 0) {
      noise[noise.size() - 12] = 0x7F, noise[noise.size() - 11] = 0xFE;  // a sync near the end
      noise[noise.size() - 10] = 0x80, noise[noise.size() - 9] = 0x01;
    }
    for (Codec c : {Codec::AacAdts, Codec::AacLatm, Codec::Dts, Codec::TrueHd}) {
      AudioFormat g;
      ProbeAudioFormat(c, noise, g);
      if (g.found) {
        EXPECT_FALSE(DescribeAudioFormat(c, g).empty());
      }
    }
  }
}

// AC-3 at 44.1 kHz (its frame sizes rounded down, the low bit of
// frmsizecod padding), at 32 kHz, and E-AC-3 at a reduced rate are found
// with their rate, so that the scan can name them.
TEST(Ac3Probe, FindsOtherRatesWithTheirFrameSizes) {
  struct Case {
    Bytes frame;
    std::uint32_t rate;
    const char* text;
  };
  Bytes at44 = test::Ac3Frame(7, 1, 0x1C, 1);  // 384 kbit/s
  at44.resize(2 * 835, 0x00);
  Bytes at44Padded = test::Ac3Frame(2, 0, 0x1D, 1);
  at44Padded.resize(2 * 836, 0x00);
  Bytes at32 = test::Ac3Frame(2, 0, 0x08, 2);  // 64 kbit/s
  at32.resize(2 * 192, 0x00);
  Bytes reduced = test::Eac3Frame(2, 0, 191);
  reduced[4] = static_cast<std::uint8_t>((3 << 6) | (1 << 4) | (2 << 1));  // fscod 3, fscod2 1: 22.05 kHz
  for (const Case& c : {Case{at44, 44100, "AC3 44.1 kHz 5.1"}, Case{at44Padded, 44100, "AC3 44.1 kHz 2.0"},
                        Case{at32, 32000, "AC3 32 kHz 2.0"}, Case{reduced, 22050, "E-AC3 22.05 kHz 2.0"}}) {
    Bytes stream = c.frame;
    stream.insert(stream.end(), {0x0B, 0x77});
    Ac3Probe probe;
    Ac3ProbeResult r;
    ASSERT_TRUE(probe.probe(stream, r)) << c.text;
    EXPECT_EQ(r.sampleRate, c.rate);
    EXPECT_EQ(Ac3FormatText(r), c.text);
  }
  // The 48 kHz size for a 44.1 kHz header is not followed by a sync.
  Bytes wrongSize = test::Ac3Frame(7, 1, 0x1C, 1);
  wrongSize.insert(wrongSize.end(), {0x0B, 0x77});
  Ac3Probe probe;
  Ac3ProbeResult r;
  EXPECT_FALSE(probe.probe(wrongSize, r));
}

}  // namespace
}  // namespace kelvor
