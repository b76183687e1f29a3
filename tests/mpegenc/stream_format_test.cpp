// Stream formats: which exist, their headers and frame lengths, and the
// encoder's frames at rates other than the conversion's.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mpegenc/frame_writer.h"
#include "mpegenc/mpeg_audio_encoder.h"
#include "mpegenc/stream_format.h"

namespace kelvor::mpegenc {
namespace {

TEST(MpegStreamFormat, OnlyTheCombinationsLayerTwoAllows) {
  EXPECT_EQ(CheckStreamFormat(kConversionFormat), "");
  int allowed = 0;
  for (const int rate : {32000, 44100, 48000}) {
    for (const int channels : {1, 2}) {
      for (const int kbps : kLayer2Kbps) allowed += CheckStreamFormat({rate, kbps, channels}).empty() ? 1 : 0;
    }
  }
  EXPECT_EQ(allowed, 3 * (10 + 10));
  EXPECT_NE(CheckStreamFormat({48000, 32, 2}).find("not a Layer II rate for stereo"), std::string::npos);
  EXPECT_NE(CheckStreamFormat({48000, 80, 2}).find("not a Layer II rate for stereo"), std::string::npos);
  EXPECT_NE(CheckStreamFormat({48000, 224, 1}).find("not a Layer II rate for mono"), std::string::npos);
  EXPECT_NE(CheckStreamFormat({48000, 100, 2}).find("no Layer II bit rate is 100"), std::string::npos);
  EXPECT_NE(CheckStreamFormat({22050, 128, 2}).find("22050 Hz"), std::string::npos);
  EXPECT_NE(CheckStreamFormat({48000, 128, 6}).find("6 channels"), std::string::npos);
}

TEST(MpegStreamFormat, HeadersAndFrameLengths) {
  EXPECT_EQ(FrameHeader(kConversionFormat, false), kFrameHeader);
  EXPECT_EQ(FrameHeader({44100, 128, 2}, true), (std::array<std::uint8_t, 4>{0xFF, 0xFD, 0x82, 0x00}));
  EXPECT_EQ(FrameHeader({32000, 32, 1}, false), (std::array<std::uint8_t, 4>{0xFF, 0xFD, 0x18, 0xC0}));
  EXPECT_EQ(&AllocationTableOf(kConversionFormat), &kTableA);
  EXPECT_EQ(&AllocationTableOf({44100, 192, 1}), &kTableB);  // per channel counts
  EXPECT_EQ(&AllocationTableOf({44100, 192, 2}), &kTableB);
  EXPECT_EQ(&AllocationTableOf({44100, 96, 2}), &kTableC);

  // 32 and 48 kHz frames are whole bytes; 44.1 kHz ones are padded so that
  // the bytes never fall a byte behind the bit rate nor run ahead of it.
  for (const int rate : {32000, 44100, 48000}) {
    for (const int kbps : kLayer2Kbps) {
      FrameLengths lengths({rate, kbps, 2});
      std::uint64_t total = 0;
      for (std::uint64_t n = 1; n <= 2000; ++n) {
        const FrameLengths::Frame f = lengths.next();
        total += f.bytes;
        const std::uint64_t exact = 144000ull * static_cast<std::uint64_t>(kbps) * n / static_cast<std::uint64_t>(rate);
        ASSERT_EQ(total, exact) << rate << " " << kbps << " " << n;
        EXPECT_EQ(f.padded, f.bytes != 144000u * static_cast<std::size_t>(kbps) / static_cast<std::size_t>(rate));
        if (rate != 44100) {
          ASSERT_FALSE(f.padded);
        }
      }
    }
  }
}

struct RecordingSink final : MpegFrameSink {
  bool WriteMpegAudioFrame(std::uint32_t, std::span<const std::uint8_t> frame) override {
    frames.emplace_back(frame.begin(), frame.end());
    return true;
  }
  std::vector<std::vector<std::uint8_t>> frames;
};

// A mono stream at 44.1 kHz: padded and unpadded frames with their headers.
TEST(MpegStreamFormat, EncoderFollowsTheFormat) {
  RecordingSink sink;
  const StreamFormat format{44100, 56, 1};
  auto enc = std::make_unique<MpegAudioEncoder>(sink, 0, format);
  std::vector<Q24> tone(1152 * 10);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<Q24>(std::lround(0.4 * 16777216.0 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 44100.0)));
  }
  ASSERT_TRUE(enc->EncodeSamples(0, tone, {}, tone.size()));
  ASSERT_EQ(sink.frames.size(), 10u);
  FrameLengths lengths(format);
  for (std::size_t f = 0; f < sink.frames.size(); ++f) {
    const FrameLengths::Frame expected = lengths.next();
    ASSERT_EQ(sink.frames[f].size(), expected.bytes) << f;
    const auto header = FrameHeader(format, expected.padded);
    EXPECT_EQ(0, std::memcmp(sink.frames[f].data(), header.data(), 4)) << f;
  }
  // Bits go to the one channel and to the table's subbands only.
  const Allocation& alloc = enc->lastFrame().allocation;
  for (std::size_t sb = 0; sb < kMaxSubbands; ++sb) {
    EXPECT_EQ(alloc.alloc[1][sb], 0) << sb;
    if (sb >= static_cast<std::size_t>(AllocationTableOf(format).sblimit)) {
      EXPECT_EQ(alloc.alloc[0][sb], 0) << sb;
    }
  }
  EXPECT_GT(alloc.alloc[0][1], 0);  // 1 kHz
}

}  // namespace
}  // namespace kelvor::mpegenc
