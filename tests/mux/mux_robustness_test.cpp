// Random call sequences with random track tables: whatever the handlers do,
// every packet is well formed, counters run without gaps, and each stream's
// bytes come back out exactly as they went in.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "mux/mux_test_support.h"

namespace kelvor {
namespace {

using Packets = std::vector<std::vector<std::uint8_t>>;

// TS: sync bytes, adaptation fields inside the packet, PES starts where the
// unit start flag says, and continuity counters that step by one for every
// packet with payload.
void CheckTsPackets(const Packets& packets, std::uint32_t prefix) {
  std::map<std::uint16_t, int> lastCounter;
  for (const auto& p : packets) {
    ASSERT_EQ(p.size(), 188u + prefix);
    const std::uint8_t* ts = p.data() + prefix;
    ASSERT_EQ(ts[0], 0x47);
    const auto pid = static_cast<std::uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
    const int afc = (ts[3] >> 4) & 3;
    ASSERT_NE(afc, 0);
    std::size_t payload = 4;
    if ((afc & 2) != 0) {
      ASSERT_LE(ts[4], afc == 2 ? 183 : 182) << "pid " << pid;
      payload = 5u + ts[4];
    }
    if ((afc & 1) == 0) continue;
    if ((ts[1] & 0x40) != 0 && pid >= 0x1000) {
      ASSERT_EQ(ts[payload] << 16 | ts[payload + 1] << 8 | ts[payload + 2], 1) << "pid " << pid;
    }
    const int cc = ts[3] & 0x0F;
    if (lastCounter.contains(pid)) {
      ASSERT_EQ(cc, (lastCounter[pid] + 1) & 0x0F) << "pid " << pid;
    }
    lastCounter[pid] = cc;
  }
}

// Program stream: every pack starts with a pack header and its PES packets
// chain exactly to the end of the 2048 bytes.
void CheckPacks(const Packets& packs) {
  for (const auto& p : packs) {
    ASSERT_EQ(p.size(), 2048u);
    ASSERT_EQ(p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3], 0x1BA);
    std::size_t at = 14;
    while (at < p.size()) {
      ASSERT_LE(at + 6, p.size());
      ASSERT_EQ(p[at] << 16 | p[at + 1] << 8 | p[at + 2], 1) << at;
      at += 6u + (std::size_t{p[at + 4]} << 8 | p[at + 5]);
    }
    ASSERT_EQ(at, p.size());
  }
}

// Every stream comes out exactly as written: the room left in the last pack
// of a stream adds nothing to it, however little there is.
void ExpectSameStream(const std::vector<std::uint8_t>& actual,
                      const std::vector<std::uint8_t>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(actual == expected);
}

void RunRandomSession(OutputFormat format, std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };

  test::MuxRig rig;
  TrackTable& t = rig.tracks;
  t.video.codec = pick(2) == 0 ? Codec::H264 : Codec::Mpeg2Video;
  t.videoBitRate = pick(4) == 0 ? 0xFFFFFFFF : pick(40000);
  const std::uint32_t mpeg = pick(6), priv = pick(6);
  for (std::uint32_t i = 0; i < std::min(mpeg, 4u); ++i)
    test::AddMpegTrack(t, 0x100 + i, pick(2) ? "eng" : nullptr);
  for (std::uint32_t j = 0; j < std::min(priv, 4u); ++j)
    test::AddPrivateTrack(t, 0x200 + j, pick(2) ? "deu" : nullptr);
  t.audioCount = mpeg + priv;  // possibly more than the table holds
  if (pick(2) == 0) {
    t.selectedAudioPid = pick(2) ? 0x100 + pick(5) : 0x200 + pick(5);
    t.selectedIsPrivate = t.selectedAudioPid >= 0x200;
  }
  rig.build(format, pick(2) == 0);
  const bool ts = format != OutputFormat::ProgramStream;

  std::vector<std::uint8_t> video;
  std::map<std::uint32_t, std::vector<std::uint8_t>> audioBySlot;
  std::vector<std::uint8_t> source(5000);
  for (auto& b : source) b = static_cast<std::uint8_t>(rng());

  for (int op = 0; op < 400; ++op) {
    const auto n = pick(5000);
    const std::span<const std::uint8_t> bytes(source.data(), n);
    switch (pick(8)) {
      case 0:
      case 1: {
        const std::uint32_t track = pick(10);
        ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(track, bytes.first(std::min(n, 1152u))));
        if (const AudioOutput* out = rig.run.outputForTrack(track);
            out != nullptr && out->slot < rig.run.slotCount()) {
          auto& a = audioBySlot[out->slot];
          a.insert(a.end(), bytes.begin(), bytes.begin() + std::min(n, 1152u));
        }
        break;
      }
      case 2: {
        const std::uint32_t j = pick(6);
        ASSERT_TRUE(rig.mux.WriteAc3Frame(j, bytes.first(std::min(n, 4096u))));
        if (const AudioOutput* out = rig.run.outputForTrack(rig.run.privateTrack(j));
            out != nullptr && out->slot < rig.run.slotCount()) {
          auto& a = audioBySlot[out->slot];
          a.insert(a.end(), bytes.begin(), bytes.begin() + std::min(n, 4096u));
        }
        break;
      }
      case 3:
        ASSERT_TRUE(rig.mux.PlaceVideoPts(static_cast<std::uint32_t>(rng())));
        break;
      case 4:
      case 5:
        ASSERT_TRUE(rig.mux.WriteVideoBytes(bytes));
        video.insert(video.end(), bytes.begin(), bytes.end());
        break;
      case 6:
        ASSERT_TRUE(rig.mux.EndVideoPes());
        break;
      default:
        MuxTestAccess::Clock(rig.mux).trackOutTime[pick(8)] = static_cast<std::uint32_t>(rng());
        MuxTestAccess::Clock(rig.mux).muxClock += pick(100000);
        break;
    }
  }
  // Started flags for every track, so that the flush closes every stream.
  ASSERT_TRUE(rig.mux.FinishOutput(true));

  const std::uint32_t prefix = format == OutputFormat::M2ts ? 4 : 0;
  if (ts) {
    CheckTsPackets(rig.sink.packets, prefix);
    ExpectSameStream(test::DemuxTs(rig.sink.packets, 0x1011, prefix).bytes, video);
    for (const auto& [slot, bytes] : audioBySlot) {
      ExpectSameStream(
          test::DemuxTs(rig.sink.packets, static_cast<std::uint16_t>(0x1100 + slot), prefix).bytes,
          bytes);
    }
  } else {
    CheckPacks(rig.sink.packets);
    ExpectSameStream(test::DemuxPs(rig.sink.packets, 0xE0).bytes, video);
    for (const auto& [slot, bytes] : audioBySlot) {
      const bool ac3 = slot >= rig.run.mpegOutCount;
      const int sub =
          ac3 ? static_cast<int>(0x80 + (rig.run.allTracks ? slot - rig.run.mpegOutCount : 0)) : -1;
      const auto id = static_cast<std::uint8_t>(ac3 ? 0xBD : 0xC0 + slot);
      ExpectSameStream(test::DemuxPs(rig.sink.packets, id, sub).bytes, bytes);
    }
  }
}

TEST(MuxRobustness, RandomSessionsKeepPacketsWellFormedAndStreamsIntact) {
  for (OutputFormat format : {OutputFormat::ProgramStream, OutputFormat::Ts, OutputFormat::M2ts}) {
    for (std::uint32_t seed = 1; seed <= 40; ++seed) {
      SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(format) << " seed " << seed);
      RunRandomSession(format, seed);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(MuxRobustness, UnknownFormatIsWrittenAsProgramStream) {
  test::MuxRig rig;
  rig.build(static_cast<OutputFormat>(4));
  EXPECT_EQ(rig.mux.layout().packetSize, 2048u);
  rig.build(static_cast<OutputFormat>(77));
  EXPECT_EQ(rig.mux.layout().packetSize, 2048u);
  ASSERT_TRUE(rig.mux.PlaceVideoPts(9000));
  ASSERT_TRUE(rig.mux.WriteVideoBytes(std::vector<std::uint8_t>(3000, 7)));
  CheckPacks(rig.sink.packets);
}

}  // namespace
}  // namespace kelvor
