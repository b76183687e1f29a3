// Program stream header pack, mux rate and stream pack templates.
#include "mux/program_stream_headers.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "common/crc32_mpeg.h"
#include "mux/mux_test_support.h"

namespace kelvor {
namespace {

using test::AddMpegTrack;
using test::AddPrivateTrack;
using test::Bytes;

std::vector<std::uint8_t> Slice(std::span<const std::uint8_t> s, std::size_t at, std::size_t n) {
  return {s.begin() + static_cast<std::ptrdiff_t>(at),
          s.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

std::uint32_t MuxRateOfPack(std::span<const std::uint8_t> p) {
  return (std::uint32_t{p[10]} << 14 | std::uint32_t{p[11]} << 6 | p[12] >> 2) & 0x3FFFFF;
}

std::uint32_t RateBoundOfSystemHeader(std::span<const std::uint8_t> p) {
  return (std::uint32_t{p[20]} & 0x7F) << 15 | std::uint32_t{p[21]} << 7 | p[22] >> 1;
}

// Checks that the program stream map at `at` is intact and the padding packet
// after it fills the pack; returns the map's total size.
std::size_t CheckMapAndPadding(std::span<const std::uint8_t> pack, std::size_t at) {
  EXPECT_EQ(Slice(pack, at, 4), Bytes({0x00, 0x00, 0x01, 0xBC}));
  const std::size_t mapSize = 6 + (std::size_t{pack[at + 4]} << 8 | pack[at + 5]);
  EXPECT_EQ(Crc32Mpeg(pack.subspan(at, mapSize)), 0u) << "map CRC";
  const std::size_t pad = at + mapSize;
  EXPECT_EQ(Slice(pack, pad, 4), Bytes({0x00, 0x00, 0x01, 0xBE}));
  EXPECT_EQ(pad + 6 + (std::size_t{pack[pad + 4]} << 8 | pack[pad + 5]), kPackSize);
  for (std::size_t n = pad + 6; n < kPackSize; ++n) EXPECT_EQ(pack[n], 0xFF) << n;
  return mapSize;
}

TEST(ProgramStreamHeaders, VideoWithOneMpegAndOneAc3Stream) {
  TrackTable t;
  t.videoBitRate = 15000;
  AddMpegTrack(t, 0x44, "eng");
  AddPrivateTrack(t, 0x45, "deu");
  RunSettings run;
  ConfigureRun(run, t, false);
  std::array<std::uint8_t, kPackSize> pack{};
  const std::uint32_t mapAt = BuildProgramStreamHeaderPack(pack, run);

  EXPECT_EQ(ProgramStreamMuxRate(1, 15000, 1), 17803u);
  EXPECT_EQ(Slice(pack, 0, 14), Bytes({0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01,
                                       0x01, 0x16, 0x2F, 0xF8}));
  EXPECT_EQ(MuxRateOfPack(pack), 17803u);
  EXPECT_EQ(RateBoundOfSystemHeader(pack), 17803u);
  EXPECT_EQ(Slice(pack, 14, 6), Bytes({0x00, 0x00, 0x01, 0xBB, 0x00, 15}));
  EXPECT_EQ(Slice(pack, 23, 12),
            Bytes({0x04, 0xE1, 0x7F, 0xB9, 0xF4, 0x00, 0xB8, 0xC0, 0x50, 0xBD, 0xC0, 0xA0}));
  ASSERT_EQ(mapAt, 35u);
  CheckMapAndPadding(pack, mapAt);
  // Map: length 40, version, no program descriptors, 30 bytes of entries:
  // video, MPEG audio with its language, AC-3 with registration and language.
  // clang-format off
  EXPECT_EQ(Slice(pack, 35, 42),
            Bytes({0x00, 0x00, 0x01, 0xBC, 0x00, 40, 0xE1, 0xFF, 0x00, 0x00, 0x00, 30,
                   0x02, 0xE0, 0x00, 0x00,
                   0x03, 0xC0, 0x00, 0x06, 0x0A, 0x04, 'e', 'n', 'g', 0x00,
                   0x06, 0xBD, 0x00, 0x0C, 0x05, 0x04, 'A', 'C', '-', '3',
                   0x0A, 0x04, 'd', 'e', 'u', 0x00}));
  // clang-format on
}

TEST(ProgramStreamHeaders, VideoOnlyAndH264Layouts) {
  TrackTable t;
  t.videoBitRate = 15000;
  RunSettings run;
  ConfigureRun(run, t, false);
  std::array<std::uint8_t, kPackSize> pack{};
  ASSERT_EQ(BuildProgramStreamHeaderPack(pack, run), 29u);
  EXPECT_EQ(pack[19], 9);  // header_length with the video entry alone
  EXPECT_EQ(CheckMapAndPadding(pack, 29), 6u + 14u);
  EXPECT_EQ(Slice(pack, 39, 6), Bytes({0x00, 0x04, 0x02, 0xE0, 0x00, 0x00}));

  t.video.codec = Codec::H264;
  t.videoBitRate = 18000;
  ConfigureRun(run, t, false);
  BuildProgramStreamHeaderPack(pack, run);
  EXPECT_EQ(CheckMapAndPadding(pack, 29), 6u + 10u + 6u + 10u);
  EXPECT_EQ(Slice(pack, 33, 24),
            Bytes({0x00, 26, 0xE1, 0xFF, 0x00, 0x06, 0x05, 0x04, 'H', 'D', 'M', 'V',
                   0x00, 10, 0x1B, 0xE0, 0x00, 0x06, 0x05, 0x04, 'H', 'D', 'M', 'V'}));
}

TEST(ProgramStreamHeaders, ConvertedTracksAreMpegAudioStreamsInSlotOrder) {
  TrackTable t;
  t.videoBitRate = 15000;
  AddMpegTrack(t, 0x44);
  AddMpegTrack(t, 0x45);
  AddPrivateTrack(t, 0x46);
  RunSettings run;
  ConfigureRun(run, t, true);
  std::array<std::uint8_t, kPackSize> pack{};
  const std::uint32_t mapAt = BuildProgramStreamHeaderPack(pack, run);
  EXPECT_EQ(pack[19], 12);
  ASSERT_EQ(mapAt, 32u);
  EXPECT_EQ(Slice(pack, 29, 3), Bytes({0xB8, 0xC0, 0x50}));
  CheckMapAndPadding(pack, mapAt);
  EXPECT_EQ(Slice(pack, mapAt + 12, 16), Bytes({0x02, 0xE0, 0x00, 0x00, 0x03, 0xC0, 0x00, 0x00,
                                                0x03, 0xC1, 0x00, 0x00, 0x03, 0xC2, 0x00, 0x00}));
  EXPECT_EQ(MuxRateOfPack(pack), (3u * 960 + 15000) * 2048 / 2020);
}

TEST(ProgramStreamHeaders, MuxRateIsLimitedToItsField) {
  EXPECT_EQ(ProgramStreamMuxRate(0, 0, 0), 0u);
  EXPECT_EQ(ProgramStreamMuxRate(0, 0x3FFFF, 0), 0x3FFFFu * 2048 / 2020);
  // Without a limit this would wrap to a small rate in the 22-bit fields.
  EXPECT_EQ(ProgramStreamMuxRate(8, 0xFFFFFFFF, 8), kMaxMuxRate);
  TrackTable t;
  t.videoBitRate = 0xFFFFFFFF;
  RunSettings run;
  ConfigureRun(run, t, false);
  std::array<std::uint8_t, kPackSize> pack{};
  BuildProgramStreamHeaderPack(pack, run);
  EXPECT_EQ(MuxRateOfPack(pack), kMaxMuxRate);
  EXPECT_EQ(RateBoundOfSystemHeader(pack), kMaxMuxRate);
}

TEST(ProgramStreamHeaders, StreamTemplatesCarryAFullPesPacket) {
  std::array<std::uint8_t, kPackSize> pack{};
  BuildProgramStreamTemplate(pack, 17803, 0xC2, -1);
  EXPECT_EQ(MuxRateOfPack(pack), 17803u);
  EXPECT_EQ(Slice(pack, 14, 14), Bytes({0x00, 0x00, 0x01, 0xC2, 0x07, 0xEC, 0x81, 0x00, 0x05, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF}));
  BuildProgramStreamTemplate(pack, 17803, 0xBD, 0x81);
  EXPECT_EQ(Slice(pack, 14, 18), Bytes({0x00, 0x00, 0x01, 0xBD, 0x07, 0xEC, 0x81, 0x00, 0x05, 0xFF,
                                        0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace kelvor
