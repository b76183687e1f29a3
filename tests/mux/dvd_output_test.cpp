// DVD output: navigation packs where video units begin, the cut of the video
// pack before them, the AC-3 sub-stream counts, and the video it refuses.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "mux/dvd_limits.h"
#include "mux/dvd_nav_pack.h"
#include "mux/mux_test_support.h"

namespace kelvor {
namespace {

using test::Bytes;
using test::MuxRig;

std::vector<std::uint8_t> Data(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> d(n);
  std::iota(d.begin(), d.end(), seed);
  return d;
}

std::uint32_t MuxRate(const std::vector<std::uint8_t>& pack) {
  return (std::uint32_t{pack[10]} << 14) | (std::uint32_t{pack[11]} << 6) | (pack[12] >> 2);
}

std::uint32_t Scr(const std::vector<std::uint8_t>& p) {
  return (std::uint32_t{p[4]} & 0x18) << 27 | (std::uint32_t{p[4]} & 0x03) << 28 |
         std::uint32_t{p[5]} << 20 | (std::uint32_t{p[6]} & 0xF8) << 12 |
         (std::uint32_t{p[6]} & 0x03) << 13 | std::uint32_t{p[7]} << 5 | p[8] >> 3;
}

bool IsNavPack(const std::vector<std::uint8_t>& p) {
  return p.size() == 2048 && p[17] == 0xBB && p[kNavPciOffset + 3] == 0xBF &&
         p[kNavDsiOffset + 3] == 0xBF;
}

// One MPEG audio track and one AC-3 track.
struct DvdRig : MuxRig {
  explicit DvdRig(OutputFormat format = OutputFormat::Dvd) {
    test::AddMpegTrack(tracks, 0x44);
    test::AddPrivateTrack(tracks, 0x45);
    tracks.videoBitRate = 15000;
    build(format);
    mux.StartTrack(0, 9000);
    mux.StartTrack(1, 9000);
  }
};

TEST(DvdOutput, EachVideoUnitOpensWithANavigationPackAndAPackOfItsOwn) {
  DvdRig rig;
  const auto first = Data(3000, 1);
  const auto second = Data(10, 99);
  ASSERT_TRUE(rig.mux.StartVideoUnit());
  ASSERT_TRUE(rig.mux.PlaceVideoPts(9000));
  ASSERT_TRUE(rig.mux.WriteVideoBytes(first));
  ASSERT_TRUE(rig.mux.StartVideoUnit());
  ASSERT_TRUE(rig.mux.WriteVideoBytes(second));
  ASSERT_TRUE(rig.mux.FinishOutput(true));

  // nav, full video pack, the cut pack, nav, the last pack.
  const auto& packs = rig.sink.packets;
  ASSERT_EQ(packs.size(), 5u);
  for (std::size_t n = 0; n < packs.size(); ++n) {
    EXPECT_EQ(packs[n].size(), 2048u);
    EXPECT_EQ(MuxRate(packs[n]), kDvdMuxRate) << "pack " << n;
    if (n > 0) {
      EXPECT_EQ(Scr(packs[n]) - Scr(packs[n - 1]), kDvdPackTicks) << "pack " << n;
    }
    EXPECT_EQ(IsNavPack(packs[n]), n == 0 || n == 3) << "pack " << n;
  }
  const auto& nav = packs[0];
  // System header: rate bound 25200, two audio streams, DVD buffer bounds.
  EXPECT_EQ(std::vector(nav.begin() + 14, nav.begin() + 38),
            Bytes({0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4, 0xE1, 0x08, 0xE1, 0x7F,
                   0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02}));
  EXPECT_EQ(std::vector(nav.begin() + 38, nav.begin() + 45), Bytes({0, 0, 1, 0xBF, 0x03, 0xD4, 0x00}));
  EXPECT_EQ(std::vector(nav.begin() + 1024, nav.begin() + 1031), Bytes({0, 0, 1, 0xBF, 0x03, 0xFA, 0x01}));

  // The new unit's bytes start the pack after the navigation pack.
  EXPECT_EQ(packs[4][28], 99);
  auto all = first;
  all.insert(all.end(), second.begin(), second.end());
  EXPECT_EQ(test::DemuxPs(packs, 0xE0).bytes, all);
  EXPECT_EQ(test::DemuxPs(packs, 0xE0).pts, std::vector<std::uint32_t>{9000});
}

TEST(DvdOutput, AVideoPackCutTooShortForPaddingEndsInZeroStuffing) {
  DvdRig rig;
  const auto data = Data(2020 + 2016, 1);  // 4 bytes left in the second pack
  ASSERT_TRUE(rig.mux.WriteVideoBytes(data));
  ASSERT_TRUE(rig.mux.StartVideoUnit());
  auto expected = data;
  expected.insert(expected.end(), 4, 0x00);
  EXPECT_EQ(test::DemuxPs(rig.sink.packets, 0xE0).bytes, expected);
}

TEST(DvdOutput, OtherContainersIgnoreVideoUnits) {
  for (OutputFormat format : {OutputFormat::ProgramStream, OutputFormat::Ts}) {
    DvdRig rig(format);
    ASSERT_TRUE(rig.mux.WriteVideoBytes(Data(100, 1)));
    ASSERT_TRUE(rig.mux.StartVideoUnit());
    EXPECT_TRUE(rig.sink.packets.empty());
  }
}

TEST(DvdOutput, Ac3PacksCountTheFramesStartingInThemAndPointAtTheFirst) {
  struct Case {
    OutputFormat format;
    std::vector<std::uint8_t> firstPack;   // frame count, pointer
    std::vector<std::uint8_t> secondPack;
  } cases[] = {
      // Frames at 0, 1000, 2000 | 984, 1984 of the 2016-byte payloads.
      {OutputFormat::Dvd, Bytes({3, 0x00, 0x01}), Bytes({2, 0x03, 0xD9})},
      {OutputFormat::ProgramStream, Bytes({0, 0, 0}), Bytes({0, 0, 0})},
  };
  for (const Case& c : cases) {
    DvdRig rig(c.format);
    for (int n = 0; n < 5; ++n) ASSERT_TRUE(rig.mux.WriteAc3Frame(0, Data(1000, 7)));
    ASSERT_TRUE(rig.mux.FinishOutput(false));
    std::vector<std::vector<std::uint8_t>> ac3;
    for (const auto& p : rig.sink.packets) {
      if (p[17] == 0xBD) ac3.push_back(p);
    }
    ASSERT_EQ(ac3.size(), 3u);
    EXPECT_EQ(ac3[0][28], 0x80);
    EXPECT_EQ(std::vector(ac3[0].begin() + 29, ac3[0].begin() + 32), c.firstPack);
    EXPECT_EQ(std::vector(ac3[1].begin() + 29, ac3[1].begin() + 32), c.secondPack);
  }
}

TEST(DvdOutput, RefusesVideoADvdCannotHold) {
  struct Case {
    bool h264;
    std::uint32_t width, height, rateCode;
    const char* says;  // nullptr: accepted
  } cases[] = {
      {false, 720, 576, 3, nullptr},       {false, 704, 480, 4, nullptr},
      {false, 352, 288, 3, nullptr},       {false, 352, 240, 4, nullptr},
      {false, 0, 0, 0, nullptr},  // no sequence header found: taken as it is
      {true, 720, 576, 3, "H.264"},        {false, 544, 576, 3, "544 x 576"},
      {false, 1920, 1080, 4, "1920 x 1080"}, {false, 352, 577, 3, "352 x 577"},
      {false, 720, 576, 4, "has 29.97 frames/s"}, {false, 352, 240, 1, "has 23.976 frames/s"},
      {false, 352, 288, 6, "has 50 frames/s"},    {false, 720, 480, 15, "has ? frames/s"},
  };
  for (const Case& c : cases) {
    const std::string why = DvdVideoRefusal(c.h264 ? Codec::H264 : Codec::Mpeg2Video, c.width, c.height, c.rateCode);
    if (c.says == nullptr) {
      EXPECT_EQ(why, "") << c.width << "x" << c.height;
    } else {
      EXPECT_NE(why.find(c.says), std::string::npos) << why;
    }
  }
}

}  // namespace
}  // namespace kelvor
