// Packet writers and the multiplexer clock, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "mux/mux_test_support.h"

namespace kelvor {
namespace {

using test::Bytes;
using test::MuxRig;
using test::ReadPts;

std::vector<std::uint8_t> Frame(std::size_t n, std::uint8_t seed = 1) {
  std::vector<std::uint8_t> f(n);
  std::iota(f.begin(), f.end(), seed);
  return f;
}

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& p, std::size_t at, std::size_t n) {
  return {p.begin() + static_cast<std::ptrdiff_t>(at),
          p.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

std::uint32_t ReadScr(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} & 0x18) << 27 | (std::uint32_t{p[0]} & 0x03) << 28 |
         std::uint32_t{p[1]} << 20 | (std::uint32_t{p[2]} & 0xF8) << 12 |
         (std::uint32_t{p[2]} & 0x03) << 13 | std::uint32_t{p[3]} << 5 | p[4] >> 3;
}

// The PCR base of a PCR packet (prefix skipped).
std::uint32_t PcrOf(const std::vector<std::uint8_t>& p) {
  return std::uint32_t{p[6]} << 25 | std::uint32_t{p[7]} << 17 | std::uint32_t{p[8]} << 9 |
         std::uint32_t{p[9]} << 1 | p[10] >> 7;
}

// One MPEG audio track (all tracks selected: slot 0, PID 0x1100).
struct OneMpegTrack : MuxRig {
  explicit OneMpegTrack(OutputFormat format) {
    test::AddMpegTrack(tracks, 0x44);
    tracks.videoBitRate = 15000;
    build(format);
    mux.StartTrack(0, 9000);
  }
};

TEST(TsAudioWriter, A768ByteFrameTakesFivePacketsEndingInStuffing) {
  OneMpegTrack rig(OutputFormat::Ts);
  const auto frame = Frame(768);
  ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, frame));
  ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, frame));

  const auto audio = rig.packetsOf(0x1100);
  ASSERT_EQ(audio.size(), 10u);
  for (std::size_t n = 0; n < audio.size(); ++n) {
    ASSERT_EQ(audio[n].size(), 188u);
    EXPECT_EQ(audio[n][3] & 0x0F, n) << "continuity_counter of packet " << n;
  }
  EXPECT_EQ(Slice(audio[0], 0, 13),
            Bytes({0x47, 0x51, 0x00, 0x10, 0x00, 0x00, 0x01, 0xC0, 0x00, 0x00, 0x81, 0x80, 0x05}));
  EXPECT_EQ(ReadPts(&audio[0][13]), 9000u);
  EXPECT_EQ(ReadPts(&audio[5][13]), 9000u + 2160);
  EXPECT_EQ(Slice(audio[1], 0, 4), Bytes({0x47, 0x11, 0x00, 0x11}));

  // 170 + 3 * 184 = 722 bytes, then 46 behind a 138-byte adaptation field.
  const auto& last = audio[4];
  EXPECT_EQ(last[3], 0x34);
  EXPECT_EQ(last[4], 137);
  EXPECT_EQ(last[5], 0x00);
  for (std::size_t n = 6; n < 142; ++n) EXPECT_EQ(last[n], 0xFF) << n;
  EXPECT_EQ(Slice(last, 142, 46), Slice(frame, 722, 46));

  const auto d = test::DemuxTs(rig.sink.packets, 0x1100, 0);
  auto twice = frame;
  twice.insert(twice.end(), frame.begin(), frame.end());
  EXPECT_EQ(d.bytes, twice);
}

TEST(TsAudioWriter, FreeBytesBecomeStuffingOfTheRightLength) {
  {
    // A frame that fills its packets exactly leaves nothing to flush.
    OneMpegTrack rig(OutputFormat::Ts);
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(170 + 184)));
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(96)));
    const auto audio = rig.packetsOf(0x1100);
    ASSERT_EQ(audio.size(), 3u);
    EXPECT_EQ(audio[1][3], 0x11);
    EXPECT_EQ(audio[2][1], 0x51);  // the next frame starts a PES packet
    EXPECT_EQ(audio[2][3], 0x32);
  }
  {
    // One free byte: adaptation_field_length 0 and no flags byte.
    OneMpegTrack rig(OutputFormat::Ts);
    const auto frame = Frame(170 + 183);
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, frame));
    const auto audio = rig.packetsOf(0x1100);
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(Slice(audio[1], 3, 3), Bytes({0x31, 0x00, frame[170]}));
    EXPECT_EQ(audio[1][187], frame.back());
  }
  {
    // Two free bytes in the first packet: the PES header follows the flags byte.
    OneMpegTrack rig(OutputFormat::Ts);
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(168)));
    const auto audio = rig.packetsOf(0x1100);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(Slice(audio[0], 3, 9), Bytes({0x30, 0x01, 0x00, 0x00, 0x00, 0x01, 0xC0, 0x00, 0x00}));
    EXPECT_EQ(test::DemuxTs(rig.sink.packets, 0x1100, 0).bytes, Frame(168));
  }
}

TEST(MuxClock, HeaderMaterialFollowsTheClockWithCountingCounters) {
  OneMpegTrack rig(OutputFormat::Ts);
  // 50 frames of 2160 ticks: 108,000 ticks of audio.
  for (int n = 0; n < 50; ++n) ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(192)));

  const auto pat = rig.packetsOf(0x0000);
  const auto pmt = rig.packetsOf(0x0100);
  const auto pcr = rig.packetsOf(0x1001);
  ASSERT_GE(pat.size(), 10u);
  ASSERT_EQ(pat.size(), pmt.size());
  ASSERT_LE(pat.size(), pcr.size());
  // The very first packets of the output are PAT, PMT and PCR.
  EXPECT_EQ(rig.sink.packets[0], pat[0]);
  EXPECT_EQ(rig.sink.packets[1], pmt[0]);
  EXPECT_EQ(rig.sink.packets[2], pcr[0]);

  for (std::size_t n = 0; n < pat.size(); ++n) {
    // The PAT counts like every PID with payload; only the counter changes.
    EXPECT_EQ(pat[n][3], 0x10 | (n & 0x0F)) << n;
    EXPECT_EQ(Slice(pat[n], 4, 184), Slice(pat[0], 4, 184));
    EXPECT_EQ(pmt[n][3], 0x10 | (n & 0x0F)) << n;
  }
  std::uint32_t lastPcr = 0;
  for (std::size_t n = 0; n < pcr.size(); ++n) {
    EXPECT_EQ(pcr[n][3], 0x20) << "no payload, counter stays";
    const std::uint32_t value = PcrOf(pcr[n]);
    if (n > 0) {
      EXPECT_LE(value - lastPcr, 9000u) << n;
    }
    lastPcr = value;
  }

  // A new run starts the counters again.
  rig.build(OutputFormat::Ts);
  EXPECT_EQ(rig.mux.patCounter(), 0);
  EXPECT_EQ(rig.mux.headerCounter(), 0);
}

// PCRs at most 100 ms apart even where the header material is late (a long
// PES packet without a time stamp) and where the clock jumps forward; the
// M2TS arrival times keep increasing through the added PCR packets.
TEST(MuxClock, PcrsStayWithin100MsThroughLongPesPacketsAndJumps) {
  for (const OutputFormat format : {OutputFormat::Ts, OutputFormat::M2ts}) {
    OneMpegTrack rig(format);
    const std::uint32_t prefix = format == OutputFormat::M2ts ? 4 : 0;
    ASSERT_TRUE(rig.mux.PlaceVideoPts(9000));
    ASSERT_TRUE(rig.mux.WriteVideoBytes(Frame(3'000'000)));  // ~750 ms of packets
    ASSERT_TRUE(rig.mux.EndVideoPes());
    ASSERT_TRUE(rig.mux.PlaceVideoPts(9000 + 5 * 90000));  // the clock jumps ~4 s
    ASSERT_TRUE(rig.mux.WriteVideoBytes(Frame(1000)));
    ASSERT_TRUE(rig.mux.FinishOutput(true));

    const auto pcr = rig.packetsOf(0x1001, prefix);
    ASSERT_GE(pcr.size(), 50u);
    for (std::size_t n = 1; n < pcr.size(); ++n) {
      EXPECT_LE(PcrOf(pcr[n]) - PcrOf(pcr[n - 1]), 9000u) << n;
      EXPECT_GT(PcrOf(pcr[n]), PcrOf(pcr[n - 1])) << n;
    }
    for (std::size_t n = 1; prefix != 0 && n < rig.sink.packets.size(); ++n) {
      const auto ats = [&](std::size_t k) {
        const auto& p = rig.sink.packets[k];
        return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
      };
      ASSERT_GT(ats(n), ats(n - 1)) << n;
    }
    EXPECT_EQ(test::DemuxTs(rig.sink.packets, 0x1011, prefix).bytes.size(), 3'001'000u);
  }
}

// Video missing for 3 s while the audio flows on (its next random-access
// point far away): the clock jumps when the video comes back, and the PAT
// and PMT must keep within 500 ms by the PCRs through the jump as they do
// everywhere else.
TEST(MuxClock, TablesStayWithinHalfASecondWhileVideoIsMissing) {
  for (const OutputFormat format : {OutputFormat::Ts, OutputFormat::M2ts}) {
    OneMpegTrack rig(format);
    const std::uint32_t prefix = format == OutputFormat::M2ts ? 4 : 0;
    ASSERT_TRUE(rig.mux.PlaceVideoPts(9000));
    ASSERT_TRUE(rig.mux.WriteVideoBytes(Frame(5000)));
    ASSERT_TRUE(rig.mux.EndVideoPes());
    for (int n = 0; n < 140; ++n) ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(192)));
    ASSERT_TRUE(rig.mux.PlaceVideoPts(9000 + 3 * 90000));
    ASSERT_TRUE(rig.mux.WriteVideoBytes(Frame(5000)));
    ASSERT_TRUE(rig.mux.FinishOutput(true));

    // Each table's time: the value of the last PCR before it.
    std::uint32_t pcr = 0;
    std::uint32_t lastPat = 0;
    std::uint32_t pats = 0;
    std::uint32_t latest = 0;
    for (const auto& packet : rig.sink.packets) {
      const std::uint8_t* ts = packet.data() + prefix;
      const int pid = (ts[1] & 0x1F) << 8 | ts[2];
      if (pid == 0x1001) pcr = PcrOf(std::vector<std::uint8_t>(packet.begin() + prefix, packet.end()));
      if (pid != 0) continue;
      if (pats++ > 0) {
        EXPECT_LE(pcr - lastPat, 45000u - 9000u) << pats;
      }
      lastPat = pcr;
      latest = pcr;
    }
    EXPECT_GE(latest, 2u * 90000u) << "the tables went on through the jump";
  }
}

TEST(MuxClock, IsPulledForwardButNeverBack) {
  OneMpegTrack rig(OutputFormat::Ts);
  MuxClock& c = MuxTestAccess::Clock(rig.mux);
  c.nextHeaderTime = 0x80000000;  // keep the header material out of the way
  c.muxClock = 1000;
  c.pendingVideoPts = 20000;
  ASSERT_TRUE(MuxTestAccess::AdvanceClock(rig.mux));
  EXPECT_EQ(c.muxClock, 11000u);
  c.muxClock = 1000;
  c.pendingVideoPts = 9500;
  ASSERT_TRUE(MuxTestAccess::AdvanceClock(rig.mux));
  EXPECT_EQ(c.muxClock, 1000u);
  c.pendingPts[3] = 5000;  // the lagging stream decides
  c.pendingVideoPts = 90000;
  c.muxClock = 100;
  ASSERT_TRUE(MuxTestAccess::AdvanceClock(rig.mux));
  EXPECT_EQ(c.muxClock, 100u);
  EXPECT_TRUE(rig.sink.packets.empty());

  // The PCR carries the clock after its own packet's stamp.
  c.nextHeaderTime = 0;
  c.pendingPts.fill(kNoPts);
  c.muxClock = 0x12345678 - 12;
  ASSERT_TRUE(rig.mux.PlaceVideoPts(0x12345678));
  ASSERT_EQ(rig.sink.packets.size(), 3u);
  EXPECT_EQ(Slice(rig.sink.packets[2], 6, 6), Bytes({0x09, 0x1A, 0x2B, 0x3C, 0x7E, 0x00}));
}

TEST(MuxClock, M2tsPacketsCarryTheArrivalTimeOfTheirStamp) {
  OneMpegTrack rig(OutputFormat::M2ts);
  MuxTestAccess::Clock(rig.mux).muxClock = 0x01000000;
  MuxTestAccess::Clock(rig.mux).trackOutTime[0] = 0x01000000 + 9000;
  ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(400)));
  ASSERT_EQ(rig.sink.packets.size(), 3u + 3u);
  for (std::size_t n = 0; n < rig.sink.packets.size(); ++n) {
    const auto& p = rig.sink.packets[n];
    ASSERT_EQ(p.size(), 192u);
    EXPECT_EQ(p[4], 0x47);
    const std::uint32_t ats =
        std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
    EXPECT_EQ(ats, static_cast<std::uint32_t>(((0x01000000ull + 4 * n) * 300) % (1u << 30))) << n;
  }
  EXPECT_EQ(test::DemuxTs(rig.sink.packets, 0x1100, 4).bytes, Frame(400));
  EXPECT_EQ(test::DemuxTs(rig.sink.packets, 0x1100, 4).pts,
            std::vector<std::uint32_t>{0x01000000u + 9000});
}

TEST(PsAudioWriter, FramesPackBackToBackAndEachPackTakesThePtsOfItsFirstNewFrame) {
  OneMpegTrack rig(OutputFormat::ProgramStream);
  for (int n = 0; n < 8; ++n)
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(576, static_cast<std::uint8_t>(n))));
  // Header pack, then two full audio packs (8 * 576 = 2 * 2020 + 568).
  ASSERT_EQ(rig.sink.packets.size(), 3u);
  EXPECT_EQ(Slice(rig.sink.packets[0], 14, 4), Bytes({0x00, 0x00, 0x01, 0xBB}));
  const auto& first = rig.sink.packets[1];
  const auto& second = rig.sink.packets[2];
  EXPECT_EQ(Slice(first, 14, 9), Bytes({0x00, 0x00, 0x01, 0xC0, 0x07, 0xEC, 0x81, 0x80, 0x05}));
  EXPECT_EQ(ReadPts(&first[23]), 9000u);
  // Frame 4 begins in the first pack (292 bytes there): the second pack
  // carries the PTS of frame 5.
  EXPECT_EQ(Slice(first, 28 + 3 * 576, 292), Slice(Frame(576, 3), 0, 292));
  EXPECT_EQ(ReadPts(&second[23]), 9000u + 4 * 2160);

  // SCR: 45 ticks per pack, pulled forward to 100 ms before the next PTS.
  EXPECT_EQ(ReadScr(&rig.sink.packets[0][4]), 0u);
  EXPECT_EQ(ReadScr(&first[4]), 45u);
  EXPECT_EQ(ReadScr(&second[4]), 9000u + 4 * 2160 - 9000);
}

TEST(PsAudioWriter, EndOfRunClosesTheLastPackWithPadding) {
  {
    OneMpegTrack rig(OutputFormat::ProgramStream);
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(960)));
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(960)));
    ASSERT_TRUE(rig.mux.FinishOutput(false));
    ASSERT_EQ(rig.sink.packets.size(), 2u);
    const auto& pack = rig.sink.packets[1];
    EXPECT_EQ(Slice(pack, 18, 2), Bytes({0x07, 0x88}));  // 1928
    EXPECT_EQ(Slice(pack, 28 + 1920, 6), Bytes({0x00, 0x00, 0x01, 0xBE, 0x00, 94}));
    for (std::size_t n = 28 + 1926; n < 2048; ++n) EXPECT_EQ(pack[n], 0xFF);
  }
  {
    // Three free bytes, too few for a padding packet, become stuffing bytes
    // of the PES header: the payload is the frame and nothing after it.
    OneMpegTrack rig(OutputFormat::ProgramStream);
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(2017)));
    ASSERT_TRUE(rig.mux.FinishOutput(false));
    ASSERT_EQ(rig.sink.packets.size(), 2u);
    const auto& pack = rig.sink.packets[1];
    EXPECT_EQ(Slice(pack, 18, 2), Bytes({0x07, 0xEC}));
    EXPECT_EQ(pack[22], 5 + 3);  // PES_header_data_length
    EXPECT_EQ(Slice(pack, 28, 3), Bytes({0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(test::DemuxPs(rig.sink.packets, pack[17]).bytes, Frame(2017));
  }
  {
    // A track that never wrote, or an empty pack, writes nothing.
    OneMpegTrack rig(OutputFormat::ProgramStream);
    ASSERT_TRUE(rig.mux.FinishOutput(false));
    EXPECT_TRUE(rig.sink.packets.empty());
    ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, Frame(2020)));
    ASSERT_EQ(rig.sink.packets.size(), 2u);
    ASSERT_TRUE(rig.mux.FinishOutput(false));
    EXPECT_EQ(rig.sink.packets.size(), 2u);
  }
}

TEST(PsAudioWriter, Ac3PacksKeepTheirSubStreamHeader) {
  MuxRig rig;
  test::AddMpegTrack(rig.tracks, 0x44);
  test::AddPrivateTrack(rig.tracks, 0x45);
  test::AddPrivateTrack(rig.tracks, 0x46);
  rig.build(OutputFormat::ProgramStream);
  rig.mux.StartTrack(2, 20000);
  const auto frame = Frame(1536);
  for (int n = 0; n < 3; ++n) ASSERT_TRUE(rig.mux.WriteAc3Frame(1, frame));
  // Two packs of 2016 payload bytes between header packs.
  std::vector<std::vector<std::uint8_t>> packs;
  for (const auto& p : rig.sink.packets) {
    if (p[17] == 0xBD) packs.push_back(p);
  }
  ASSERT_EQ(packs.size(), 2u);
  for (const auto& p : packs) {
    EXPECT_EQ(Slice(p, 14, 4), Bytes({0x00, 0x00, 0x01, 0xBD}));
    EXPECT_EQ(Slice(p, 28, 4), Bytes({0x81, 0x00, 0x00, 0x00}));
  }
  EXPECT_EQ(ReadPts(&packs[0][23]), 20000u);
  EXPECT_EQ(ReadPts(&packs[1][23]), 20000u + 2 * 2880);
  const auto d = test::DemuxPs(rig.sink.packets, 0xBD, 0x81);
  EXPECT_EQ(d.bytes.size(), 2u * 2016);
  EXPECT_EQ(Slice(d.bytes, 1536, 480), Slice(frame, 0, 480));
}

TEST(PsWriters, TheLastPackOfEveryStreamAddsNothingToItsPayload) {
  // Room of 1 to 6 bytes is too small for a padding packet; 7 takes one.
  for (OutputFormat format : {OutputFormat::ProgramStream, OutputFormat::Dvd}) {
    for (std::uint32_t room = 1; room <= 7; ++room) {
      SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(format) << ", room " << room);
      MuxRig rig;
      test::AddMpegTrack(rig.tracks, 0x44);
      test::AddPrivateTrack(rig.tracks, 0x45);
      rig.tracks.videoBitRate = 15000;
      rig.build(format);
      rig.mux.StartTrack(0, 9000);
      rig.mux.StartTrack(1, 9000);
      const auto video = Frame(2020 - room, 3);
      const auto mpeg = Frame(2020 - room, 5);
      const auto ac3 = Frame(2016 - room, 7);
      ASSERT_TRUE(rig.mux.PlaceVideoPts(9000));
      ASSERT_TRUE(rig.mux.WriteVideoBytes(video));
      ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(0, mpeg));
      ASSERT_TRUE(rig.mux.WriteAc3Frame(0, ac3));
      ASSERT_TRUE(rig.mux.FinishOutput(true));
      for (const auto& p : rig.sink.packets) ASSERT_EQ(p.size(), 2048u);
      EXPECT_EQ(test::DemuxPs(rig.sink.packets, 0xE0).bytes, video);
      EXPECT_EQ(test::DemuxPs(rig.sink.packets, 0xC0).bytes, mpeg);
      EXPECT_EQ(test::DemuxPs(rig.sink.packets, 0xBD, 0x80).bytes, ac3);
    }
  }
}

TEST(VideoWriter, PesPacketsAndTheFinalFlushInEveryFormat) {
  for (OutputFormat format : {OutputFormat::ProgramStream, OutputFormat::Ts, OutputFormat::M2ts}) {
    SCOPED_TRACE(static_cast<int>(format));
    MuxRig rig;
    rig.tracks.videoBitRate = 15000;
    rig.build(format);
    const bool ts = format != OutputFormat::ProgramStream;
    std::vector<std::uint8_t> written;
    for (std::uint32_t picture = 0; picture < 6; ++picture) {
      if (ts) {
        ASSERT_TRUE(rig.mux.EndVideoPes());
      }
      if (!rig.mux.VideoPtsPlaced()) {
        ASSERT_TRUE(rig.mux.PlaceVideoPts(9000 + picture * 3600));
      }
      const auto bytes = Frame(1000 + picture * 517, static_cast<std::uint8_t>(picture));
      ASSERT_TRUE(rig.mux.WriteVideoBytes(bytes));
      ASSERT_TRUE(rig.mux.WriteVideoBytes({}));
      written.insert(written.end(), bytes.begin(), bytes.end());
    }
    ASSERT_TRUE(rig.mux.FinishOutput(true));

    const std::uint32_t prefix = format == OutputFormat::M2ts ? 4 : 0;
    const auto d = ts ? test::DemuxTs(rig.sink.packets, 0x1011, prefix)
                      : test::DemuxPs(rig.sink.packets, 0xE0);
    EXPECT_EQ(d.bytes, written);
    if (ts) {
      EXPECT_EQ(d.pts, (std::vector<std::uint32_t>{9000, 12600, 16200, 19800, 23400, 27000}));
    } else {
      ASSERT_FALSE(d.pts.empty());
      EXPECT_EQ(d.pts[0], 9000u);
    }
  }
}

TEST(VideoWriter, ATimedAccessUnitsStartCodeLiesInThePackWithItsPts) {
  // A pack without a PTS and r bytes of room left when a timed access unit
  // begins: its start code and NAL header must not run into the next pack.
  constexpr std::size_t kPackPayload = 2020;
  const auto unit = Bytes({0x00, 0x00, 0x01, 0x09, 0x10, 0x00, 0x00, 0x01, 0x41, 0x9A});
  for (std::size_t r = 1; r <= 5; ++r) {
    SCOPED_TRACE(r);
    MuxRig rig;
    rig.tracks.video.codec = Codec::H264;
    rig.tracks.videoBitRate = 15000;
    rig.build(OutputFormat::ProgramStream);
    ASSERT_TRUE(rig.mux.PlaceVideoPts(9000));
    const auto before = Frame(2 * kPackPayload - r);
    ASSERT_TRUE(rig.mux.WriteVideoBytes(before));
    ASSERT_TRUE(rig.mux.PadPackBeforeTimedUnit());
    ASSERT_TRUE(rig.mux.PlaceVideoPts(12600));
    ASSERT_TRUE(rig.mux.WriteVideoBytes(unit));
    ASSERT_TRUE(rig.mux.FinishOutput(true));

    bool found = false;
    for (const auto& pack : rig.sink.packets) {
      const auto one = test::DemuxPs({pack}, 0xE0);
      if (one.pts.empty() || one.pts[0] != 12600) continue;
      found = true;
      EXPECT_NE(std::search(one.bytes.begin(), one.bytes.end(), unit.begin(), unit.begin() + 4),
                one.bytes.end());
    }
    EXPECT_TRUE(found);
    // Only zero bytes come between the two units.
    const auto d = test::DemuxPs(rig.sink.packets, 0xE0);
    ASSERT_GE(d.bytes.size(), before.size() + unit.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), d.bytes.begin()));
    const std::size_t gap = d.bytes.size() - before.size() - unit.size();
    EXPECT_EQ(gap, r < 4 ? r : 0);
    EXPECT_TRUE(std::all_of(d.bytes.begin() + static_cast<std::ptrdiff_t>(before.size()),
                            d.bytes.end() - static_cast<std::ptrdiff_t>(unit.size()),
                            [](std::uint8_t b) { return b == 0; }));
  }
}

TEST(PacketWriters, ARefusedPacketEndsEveryWriter) {
  for (OutputFormat format : {OutputFormat::ProgramStream, OutputFormat::Ts}) {
    OneMpegTrack rig(format);
    rig.sink.refuseAfter = 0;
    EXPECT_FALSE(rig.mux.WriteMpegAudioFrame(0, Frame(300)));  // the header material
    EXPECT_TRUE(rig.sink.packets.empty());

    rig.sink.refuseAfter = -1;
    MuxTestAccess::Clock(rig.mux).nextHeaderTime = 0x80000000;
    ASSERT_TRUE(rig.mux.WriteVideoBytes(Frame(1000)));
    rig.sink.refuseAfter = static_cast<int>(rig.sink.packets.size());
    EXPECT_FALSE(rig.mux.WriteVideoBytes(Frame(5000)));
    EXPECT_FALSE(rig.mux.FinishOutput(true));
  }
}

TEST(PacketWriters, TracksWithoutAnOutputStreamAreIgnored) {
  MuxRig rig;
  test::AddMpegTrack(rig.tracks, 0x44);
  test::AddMpegTrack(rig.tracks, 0x45);
  rig.tracks.selectedAudioPid = 0x45;
  rig.build(OutputFormat::Ts);
  // The one selected track (index 1) writes to slot 0; nothing else exists.
  rig.mux.StartTrack(1, 9000);
  ASSERT_TRUE(rig.mux.WriteMpegAudioFrame(1, Frame(200)));
  EXPECT_EQ(test::DemuxTs(rig.sink.packets, 0x1100, 0).bytes, Frame(200));
  const auto before = rig.sink.packets.size();
  EXPECT_TRUE(rig.mux.WriteAc3Frame(0, Frame(200)));  // no AC-3 output stream
  EXPECT_TRUE(rig.mux.WriteMpegAudioFrame(8, Frame(200)));
  EXPECT_TRUE(rig.mux.WriteAc3Frame(1000, Frame(200)));
  EXPECT_EQ(rig.sink.packets.size(), before);
}

}  // namespace
}  // namespace kelvor
