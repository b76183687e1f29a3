// The scan pass over hand-built streams: what is listed, in which order,
// and what happens with damaged or unusual input.
#include <gtest/gtest.h>

#include <filesystem>

#include <random>

#include "common/flags.h"
#include "common/crc32_mpeg.h"
#include "scan/scan_pass.h"
#include "support/test_support.h"
#include "support/ts_builder.h"

namespace kelvor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::TsBuilder;

constexpr std::uint16_t kPmtPid = 0x1000;
constexpr std::uint16_t kVideoPid = 0x100;

Bytes SequenceHeaderEs() {
  // A sequence header with bit_rate_value 15000 (6 Mbit/s).
  return Bytes{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0x0E, 0xA6, 0x20, 0x00, 0x00, 0x00, 0x01, 0x00};
}

// Three MPEG audio frames back to back: enough for the probe to believe them.
Bytes ThreeFrames() {
  Bytes out;
  for (int k = 0; k < 3; ++k) {
    const Bytes f = test::MpegAudioFrame();
    out.insert(out.end(), f.begin(), f.end());
  }
  return out;
}

struct ScanResult {
  std::vector<std::string> rows;
  std::vector<std::string> messages;
  TrackTable tracks;
  ScanSummary summary;
};

class ScanPassTest : public ::testing::Test {
 protected:
  void TearDown() override {
    verbose = false;
    abortRequested = false;
  }

  ScanResult Scan(const Bytes& stream) {
    const auto path = test::TempDir() / "in.ts";
    test::WriteFile(path, stream);
    return ScanPath(path.string());
  }

  static ScanResult ScanPath(const std::string& path) {
    test::RecordingUiPort ui;
    InputView input(ui);
    input.setPath(path);
    ScanResult result;
    H264IdrState idr;
    ScanPass scan(input, result.tracks, idr, ui);
    scan.run();
    EXPECT_EQ(ui.finishedCount(), 1);
    result.rows = ui.rows();
    result.messages = ui.messages();
    result.summary = scan.summary();
    return result;
  }

  // PMT, then video with a sequence header, repeated so that the thresholds
  // and the look-ahead of the sync test are well covered.
  static void AddProgram(TsBuilder& ts, const std::vector<test::PmtStream>& streams) {
    const auto pmt = test::BuildPmtSection(streams);
    ts.section(kPmtPid, pmt);
    ts.pes(kVideoPid, 0xE0, SequenceHeaderEs(), 90000);
  }
};

TEST_F(ScanPassTest, ListsMpegThenAc3TracksWithLanguagesAndTheAllRow) {
  TsBuilder ts;
  AddProgram(ts, {{0x02, kVideoPid, ""}, {0x81, 0x45, "eng"}, {0x03, 0x44, "fra"}});
  Bytes ac3 = test::Ac3Frame(7, 1);
  Bytes ac3Twice = ac3;
  ac3Twice.insert(ac3Twice.end(), ac3.begin(), ac3.end());
  for (int i = 0; i < 4; ++i) {
    ts.pes(0x45, 0xBD, ac3Twice, 90000);  // the AC-3 PID comes first in the stream
    ts.pes(0x44, 0xC0, test::MpegAudioFrame(0xFD, 0xA4, 0x00), 90000);
    AddProgram(ts, {{0x02, kVideoPid, ""}, {0x81, 0x45, "eng"}, {0x03, 0x44, "fra"}});
  }
  const auto r = Scan(ts.bytes());
  ASSERT_EQ(r.rows.size(), 4u);
  EXPECT_EQ(r.rows[0], "in.ts");
  EXPECT_EQ(r.rows[1], "[0044] MPEG L2 192Kb 48KHz Stereo [fra]");
  EXPECT_EQ(r.rows[2], "[0045] AC3 5.1 [eng]");
  EXPECT_EQ(r.rows[3], " All audio tracks");
  ASSERT_EQ(r.tracks.trackChoiceCount, 3u);
  EXPECT_EQ(r.tracks.trackChoices[0].listIndex, 1u);
  EXPECT_EQ(r.tracks.trackChoices[0].pid, 0x44u);
  EXPECT_EQ(r.tracks.trackChoices[1].pid, 0x45u);
  EXPECT_EQ(r.tracks.trackChoices[2].listIndex, 3u);
  EXPECT_EQ(r.tracks.trackChoices[2].pid, kAllTracks);
  EXPECT_EQ(r.tracks.videoBitRate, 15000u);
  EXPECT_EQ(r.tracks.video.codec, Codec::Mpeg2Video);
  EXPECT_TRUE(r.messages.empty());
}

TEST_F(ScanPassTest, CollectsAPmtSplitOverTwoPacketsAndIgnoresARepeatedPacket) {
  // Enough streams with long descriptors that the section needs two packets.
  std::vector<test::PmtStream> streams{{0x1B, kVideoPid, ""}, {0x03, 0x44, "deu"}};
  for (std::uint16_t pid = 0x200; pid < 0x20C; ++pid) streams.push_back({0x03, pid, "abc", Bytes{0x52, 2, 0x01, 0x02}});
  const auto pmt = test::BuildPmtSection(streams);
  ASSERT_GT(pmt.size(), 183u);
  TsBuilder ts;
  Bytes withPointer{0x00};
  withPointer.insert(withPointer.end(), pmt.begin(), pmt.end());
  ts.packet(kPmtPid, true, std::span(withPointer).first(184), 3);
  ts.packet(kPmtPid, false, std::span(withPointer).first(184), 3);  // repeated
  ts.packet(kPmtPid, false, std::span(withPointer).subspan(184), 4);
  // H.264: delimiter then IDR; the MPEG header split over two packets, with a
  // repeated packet between the halves.
  ts.pes(kVideoPid, 0xE0, Bytes{0x00, 0x00, 0x00, 0x01, 0x09, 0xF0, 0x00, 0x00, 0x01, 0x65, 0x88}, 0);
  ts.pes(0x44, 0xC0, Bytes{0x00, 0xFF}, 0);
  ts.packet(0x44, false, Bytes{0x00, 0x00}, 0);  // repeated: same cc as the PES start
  ts.packet(0x44, false, Bytes{0xFD, 0x94, 0x44}, 1);
  // The rest of that 480-byte frame and two more: a header is believed
  // when the next two follow it.
  Bytes rest(476, 0x00);
  for (int k = 0; k < 2; ++k) {
    const Bytes f = test::MpegAudioFrame(0xFD, 0x94, 0x44, 480);
    rest.insert(rest.end(), f.begin(), f.end());
  }
  for (std::size_t at = 0, cc = 2; at < rest.size(); at += 184, ++cc) {
    ts.packet(0x44, false, std::span(rest).subspan(at, std::min<std::size_t>(184, rest.size() - at)),
              static_cast<std::uint8_t>(cc));
  }
  for (int i = 0; i < 3; ++i) ts.section(kPmtPid, pmt);
  const auto r = Scan(ts.bytes());
  ASSERT_EQ(r.rows.size(), 2u) << r.rows.back();
  EXPECT_EQ(r.rows[1], "[0044] MPEG L2 160Kb 48KHz Joint Stereo [deu]");
  EXPECT_EQ(r.tracks.video.codec, Codec::H264);
  EXPECT_EQ(r.tracks.videoBitRate, 18000u);
  // The track record carries its PMT entry's descriptors.
  ASSERT_EQ(r.tracks.audioCount, 1u);
  const auto d = r.tracks.audio[0].descriptors();
  EXPECT_EQ(Bytes(d.begin(), d.end()), (Bytes{0x0A, 4, 'd', 'e', 'u', 0}));
}

TEST_F(ScanPassTest, ALostPacketEndsAPendingProbeUntilTheNextPes) {
  TsBuilder ts;
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  ts.pes(0x44, 0xC0, Bytes{0x00, 0xFF}, 0);
  ts.packet(0x44, false, Bytes{0xFD, 0x94, 0x44}, 5);  // cc jumps: the header halves do not join
  for (int i = 0; i < 3; ++i) AddProgram(ts, {{0x02, kVideoPid, ""}});
  auto r = Scan(ts.bytes());
  EXPECT_EQ(r.rows.back(), "No supported audio track");
  EXPECT_EQ(r.tracks.audioCount, 0u);
}

TEST_F(ScanPassTest, WithoutAParsedPmtThereIsNoVideo) {
  TsBuilder ts;
  for (int i = 0; i < 4; ++i) {
    ts.pes(kVideoPid, 0xE0, SequenceHeaderEs(), 0);
    ts.pes(0x44, 0xC0, test::MpegAudioFrame(), 0);
  }
  const auto r = Scan(ts.bytes());
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[1], "No video track");
  EXPECT_EQ(r.tracks.trackChoiceCount, 0u);
}

TEST_F(ScanPassTest, Only192BytePacketsTakeAc3FromExtendedStreamId) {
  // 204-byte packets are broadcast ones with parity bytes after them.
  for (const unsigned size : {188u, 192u, 204u}) {
    TsBuilder ts(size);
    AddProgram(ts, {{0x02, kVideoPid, ""}});
    Bytes frames = test::Ac3Frame(2, 0);
    frames.insert(frames.end(), frames.begin(), frames.end());
    for (int i = 0; i < 3; ++i) {
      ts.pes(0x50, 0xBD, frames, 0);
      ts.pes(0x51, 0xFD, frames, 0);
      AddProgram(ts, {{0x02, kVideoPid, ""}});
    }
    const auto r = Scan(ts.bytes());
    EXPECT_EQ(r.summary.packetSize, size);
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[1], size != 192 ? "[0050] AC3 2.0 " : "[0051] AC3 2.0 ");
  }
}

TEST_F(ScanPassTest, AFifthMpegTrackIsIgnoredWithAWarningWhenVerbose) {
  verbose = true;
  TsBuilder ts;
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  for (std::uint16_t pid = 0x41; pid <= 0x45; ++pid) ts.pes(pid, 0xC0, ThreeFrames(), 0);
  // A second video PID and a stream_id change are warned about too.
  ts.pes(0x101, 0xE1, SequenceHeaderEs(), 0);
  ts.pes(0x41, 0xC1, test::MpegAudioFrame(), 0);
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  const auto r = Scan(ts.bytes());
  ASSERT_EQ(r.rows.size(), 6u);  // file, four tracks, all
  EXPECT_EQ(r.rows[4], "[0044] MPEG L2 192Kb 48KHz Stereo ");
  EXPECT_EQ(r.tracks.audioCount, 4u);
  EXPECT_EQ(r.messages, (std::vector<std::string>{"Warning: more than 4 audio channels!",
                                                  "Warning: more than 1 video channel!",
                                                  "Invalid audio stream code!"}));
}

TEST_F(ScanPassTest, DropsTracksThatNeverDecodeAndCompactsTheTable) {
  TsBuilder ts;
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  for (int i = 0; i < 3; ++i) {
    ts.pes(0x41, 0xC0, Bytes(100, 0x11), 0);  // never a header
    ts.pes(0x42, 0xC1, test::MpegAudioFrame(), 0);
    AddProgram(ts, {{0x02, kVideoPid, ""}});
  }
  const auto r = Scan(ts.bytes());
  ASSERT_EQ(r.rows.size(), 2u);  // no "all" row for one track
  ASSERT_EQ(r.tracks.audioCount, 1u);
  EXPECT_EQ(r.tracks.audio[0].pid, 0x42u);
  EXPECT_EQ(r.tracks.audio[0].streamId, 0xC1);
  EXPECT_EQ(r.tracks.audio[0].codec, Codec::MpegAudio);
  EXPECT_EQ(r.tracks.audio[0].mpegLayer, 2u);
  ASSERT_EQ(r.tracks.trackChoiceCount, 1u);
  EXPECT_EQ(r.tracks.trackChoices[0].listIndex, 1u);
}

TEST_F(ScanPassTest, ReportsMissingEmptyAndTinyFiles) {
  auto r = ScanPath("/nonexistent/dir/film.ts");
  EXPECT_EQ(r.rows, std::vector<std::string>{"film.ts"});
  EXPECT_EQ(r.messages, (std::vector<std::string>{"Input file not found",
                                                  "Error detected while scanning inpout stream"}));
  EXPECT_FALSE(abortRequested);

  r = Scan({});
  EXPECT_EQ(r.messages.front(), "Empty");
  EXPECT_FALSE(abortRequested);

  for (const std::size_t size : {1u, 188u, 376u, 564u, 565u, 600u}) {
    TsBuilder ts;
    AddProgram(ts, {{0x02, kVideoPid, ""}});
    Bytes bytes = ts.bytes();
    bytes.resize(size, 0x47);
    r = Scan(bytes);
    EXPECT_EQ(r.rows.size(), 2u) << size;
    EXPECT_TRUE(r.messages.empty()) << size;
  }
}

TEST_F(ScanPassTest, ResynchronisesAfterGarbageAndSurvivesRandomData) {
  TsBuilder ts;
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  ts.raw(Bytes{0x47, 0x00, 0x47, 0x12, 0x34});  // junk with false sync bytes
  for (int i = 0; i < 3; ++i) {
    ts.pes(0x44, 0xC0, test::MpegAudioFrame(), 0);
    ts.raw(Bytes(77, 0x47));
    AddProgram(ts, {{0x02, kVideoPid, ""}});
  }
  auto r = Scan(ts.bytes());
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(r.rows[1], "[0044] MPEG L2 192Kb 48KHz Stereo ");

  // Random bytes, and a real stream with random bit flips and a cut in the
  // middle of a packet: no crash, a finished scan, rows listed.
  std::mt19937 random(7);
  Bytes noise(300000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0x47 : random());
  r = Scan(noise);
  EXPECT_GE(r.rows.size(), 2u);
  for (int round = 0; round < 20; ++round) {
    Bytes damaged = ts.bytes();
    for (int k = 0; k < 40; ++k) damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    damaged.resize(damaged.size() - 1 - random() % 187);
    r = Scan(damaged);
    EXPECT_GE(r.rows.size(), 2u);
  }
}

TEST_F(ScanPassTest, AbortListsWhatWasFoundSoFar) {
  TsBuilder ts;
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  ts.pes(0x44, 0xC0, test::MpegAudioFrame(), 0);
  AddProgram(ts, {{0x02, kVideoPid, ""}});
  abortRequested = true;  // before the first packet
  const auto r = Scan(ts.bytes());
  EXPECT_EQ(r.rows.back(), "No video track");
  EXPECT_TRUE(r.messages.empty());
}


// A section with its CRC_32 made anew after its bytes were changed.
Bytes WithCrc(Bytes s) {
  const std::uint32_t crc = Crc32Mpeg(std::span(s).first(s.size() - 4));
  for (int k = 0; k < 4; ++k) s[s.size() - 4 + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
  return s;
}

// Two programmes: 1 (PMT 0x1000) with video 0x100 and audio 0x44, 2 (PMT
// 0x1001) with video 0x102 and audio 0x45, which comes as private_stream_1
// (the PMT's stream_type says MPEG audio). Each scan offers the audio of
// one programme only.
TEST_F(ScanPassTest, OffersOnlyTheAudioOfTheProgrammeTaken) {
  TsBuilder ts;
  const Bytes pat = WithCrc({0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x00, 0x00, 0x02,
                             0xF0, 0x01, 0, 0, 0, 0});
  Bytes pmt2 = test::BuildPmtSection({{0x02, 0x102, ""}, {0x03, 0x45, "ita"}});
  pmt2[4] = 0x02;  // program_number 2
  pmt2 = WithCrc(pmt2);
  for (int i = 0; i < 4; ++i) {
    ts.section(0x0000, pat);
    ts.section(0x1001, pmt2);
    AddProgram(ts, {{0x02, kVideoPid, ""}, {0x03, 0x44, "fra"}});
    ts.pes(0x102, 0xE0, SequenceHeaderEs(), 90000);
    ts.pes(0x44, 0xC0, ThreeFrames(), 0);
    ts.pes(0x45, 0xBD, ThreeFrames(), 0);
  }
  const auto path = test::TempDir() / "in.ts";
  test::WriteFile(path, ts.bytes());
  struct Case {
    std::uint32_t requested, video, audio;
    const char* row;
  };
  for (const Case& c : {Case{0, kVideoPid, 0x44, "[0044] MPEG L2 192Kb 48KHz Stereo [fra]"},
                        Case{2, 0x102, 0x45, "[0045] MPEG L2 192Kb 48KHz Stereo [ita]"}}) {
    test::RecordingUiPort ui;
    InputView input(ui);
    input.setPath(path.string());
    TrackTable tracks;
    tracks.requestedProgramme = c.requested;
    H264IdrState idr;
    ScanPass scan(input, tracks, idr, ui);
    scan.run();
    ASSERT_EQ(ui.rows().size(), 2u) << c.requested;
    EXPECT_EQ(ui.rows()[1], c.row);
    EXPECT_EQ(tracks.video.pid, c.video);
    EXPECT_EQ(tracks.audio[0].pid, c.audio);
    EXPECT_EQ(tracks.programme, c.requested == 0 ? 1u : c.requested);
    EXPECT_EQ(scan.summary().programmes.count(), 2u);
  }
}

// The file's last packet is read (192-byte packets have their sync byte 4
// bytes in, 204-byte ones 16 parity bytes after), and so is the last one
// before junk; junk far beyond the scan's limit is not walked to its end.
TEST_F(ScanPassTest, ReadsTheLastPacketAndStopsInLongJunk) {
  for (const unsigned packetSize : {192u, 204u, 188u}) {
    TsBuilder ts(packetSize);
    AddProgram(ts, {{0x02, kVideoPid, ""}});
    Bytes frames = ThreeFrames();
    ts.pes(0x44, 0xC0, std::span(frames).first(2 * 576), 0);
    ts.packet(0x44, true, Bytes{0x00, 0x00, 0x01, 0xC0, 0x00, 0x00, 0x80, 0x00, 0x00, 0xFF, 0xFD, 0xA4, 0x00,
                                0x55, 0x55});  // the third header, in the last packet
    const auto path = test::TempDir() / "in.ts";
    test::WriteFile(path, ts.bytes());
    const bool junk = packetSize == 188;
    if (junk) std::filesystem::resize_file(path, ts.bytes().size() + 2 * ScanPass::kMaxBytes);  // sparse zeros
    const auto r = ScanPath(path.string());
    ASSERT_EQ(r.rows.size(), 2u) << packetSize;
    EXPECT_EQ(r.rows[1], "[0044] MPEG L2 192Kb 48KHz Stereo ") << packetSize;
    EXPECT_LE(r.summary.bytesScanned, ScanPass::kMaxBytes + packetSize);
  }
}

}  // namespace
}  // namespace kelvor

namespace kelvor {
namespace {

class ScanProgrammeTest : public ScanPassTest {
 protected:
  static ScanResult ScanProgramme(const Bytes& stream, std::uint32_t programme) {
    const auto path = test::TempDir() / "in.ts";
    test::WriteFile(path, stream);
    test::RecordingUiPort ui;
    InputView input(ui);
    input.setPath(path.string());
    ScanResult result;
    result.tracks.requestedProgramme = programme;
    H264IdrState idr;
    ScanPass scan(input, result.tracks, idr, ui);
    scan.run();
    result.rows = ui.rows();
    result.summary = scan.summary();
    return result;
  }
  static const ScanSummary::NotCarried* NotCarriedOn(const ScanResult& r, std::uint32_t pid) {
    for (std::uint32_t k = 0; k < r.summary.notCarriedCount; ++k) {
      if (r.summary.notCarried[k].pid == pid) return &r.summary.notCarried[k];
    }
    return nullptr;
  }
};

// A multiplex whose other programme (2, a radio service with four MPEG audio
// PIDs and an AC-3 one) comes first in the stream: programme 1's two
// tracks still get their rows, and programme 2 asked for lists its own.
TEST_F(ScanProgrammeTest, TheTrackLimitsCountTheProgrammeTakenOnly) {
  TsBuilder ts;
  const Bytes pat = WithCrc({0x00, 0xB0, 0x11, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xF0, 0x00, 0x00, 0x02,
                             0xF0, 0x01, 0, 0, 0, 0});
  Bytes pmt2 = test::BuildPmtSection({{0x03, 0x50, "deu"}, {0x03, 0x51, ""}, {0x03, 0x52, ""},
                                      {0x03, 0x53, ""}, {0x81, 0x54, ""}});
  pmt2[4] = 0x02;
  pmt2 = WithCrc(pmt2);
  Bytes ac3 = test::Ac3Frame(2, 0);
  ac3.insert(ac3.end(), ac3.begin(), ac3.end());
  for (int i = 0; i < 3; ++i) {
    ts.section(0x0000, pat);
    ts.section(0x1001, pmt2);
    for (std::uint16_t pid = 0x50; pid <= 0x53; ++pid) ts.pes(pid, 0xC0, ThreeFrames(), 0);
    ts.pes(0x54, 0xBD, ac3, 0);
  }
  for (int i = 0; i < 3; ++i) {
    AddProgram(ts, {{0x02, kVideoPid, ""}, {0x03, 0x44, "ita"}, {0x03, 0x46, "eng"}});
    ts.pes(0x44, 0xC0, ThreeFrames(), 0);
    ts.pes(0x46, 0xC0, ThreeFrames(), 0);
    for (std::uint16_t pid = 0x50; pid <= 0x53; ++pid) ts.pes(pid, 0xC0, ThreeFrames(), 0);
  }
  const auto first = ScanProgramme(ts.bytes(), 0);
  ASSERT_EQ(first.rows.size(), 4u);
  EXPECT_EQ(first.rows[1], "[0044] MPEG L2 192Kb 48KHz Stereo [ita]");
  EXPECT_EQ(first.rows[2], "[0046] MPEG L2 192Kb 48KHz Stereo [eng]");
  EXPECT_EQ(first.summary.notCarriedCount, 0u);  // the other programme's streams are not ours to name

  const auto second = ScanProgramme(ts.bytes(), 2);
  // No video in programme 2: nothing is offered, the table tells its own
  // tracks only.
  EXPECT_EQ(second.rows[1], "No video track");
  ASSERT_EQ(second.tracks.audioCount, 5u);
  EXPECT_EQ(second.tracks.audioTrack(0x44), nullptr);
  EXPECT_NE(second.tracks.audioTrack(0x54), nullptr);
}

// Every stream of the programme that is not carried is named with what it
// is and why, the language wherever its descriptor stands, and the audio
// type of a carried track shows in its row.
TEST_F(ScanProgrammeTest, NamesEveryStreamItDoesNotCarry) {
  TsBuilder ts;
  Bytes adts = {0xFF, 0xF1, 0x4C, 0x80, 0x24, 0xFF, 0xFC};
  adts.resize(295, 0x21);
  adts.insert(adts.end(), adts.begin(), adts.end());
  Bytes ac3At44 = test::Ac3Frame(2, 0, 0x08, 1);
  ac3At44.resize(2 * 139, 0x00);  // 64 kbit/s at 44.1 kHz
  ac3At44.insert(ac3At44.end(), ac3At44.begin(), ac3At44.end());
  const std::vector<test::PmtStream> streams = {
      {0x02, kVideoPid, ""},
      {0x03, 0x41, "", {0x0A, 4, 'q', 'a', 'd', 0x03}},  // audio description
      {0x0F, 0x42, "fin"},
      {0x06, 0x43, "", {0x05, 4, 'A', 'C', '-', '3', 0x6A, 1, 0x00, 0x0A, 4, 'e', 'n', 'g', 0x00}},
      {0x06, 0x44, "", {0x59, 8, 'f', 'r', 'a', 0x20, 0x00, 0x01, 0x00, 0x01}},
      {0x06, 0x45, "", {0x56, 5, 'd', 'e', 'u', 0x10, 0x88}},
      {0x05, 0x46, ""},
      {0x03, 0x47, ""},  // never in the stream
  };
  for (int i = 0; i < 4; ++i) {
    AddProgram(ts, streams);
    ts.pes(0x41, 0xC0, ThreeFrames(), 0);
    ts.pes(0x42, 0xC0, adts, 0);
    ts.pes(0x43, 0xBD, ac3At44, 0);
    ts.pes(0x44, 0xBD, Bytes{0x20, 0x00, 0x0F, 0x10}, 0);
    ts.pes(0x45, 0xBD, Bytes{0x10, 0x02, 0x2C}, 0);
  }
  const auto r = ScanProgramme(ts.bytes(), 0);
  ASSERT_EQ(r.rows.size(), 4u);
  EXPECT_EQ(r.rows[1], "[0041] MPEG L2 192Kb 48KHz Stereo [qad] audio description");
  EXPECT_EQ(r.rows[2], "[0042] AAC-LC 48 kHz 2 ch [fin]");  // carried
  struct Expect {
    std::uint32_t pid;
    Codec codec;
    const char* language;
    const char* found;
    const char* reason;
  };
  for (const Expect& e : {
           Expect{0x43, Codec::Ac3, "eng", "AC3 44.1 kHz 2.0", "AC-3 at 44.1 kHz is not supported"},
           Expect{0x44, Codec::DvbSubtitle, "fra", "", "DVB subtitles are not carried"},
           Expect{0x45, Codec::Teletext, "deu", "", "teletext pages are not carried"},
           Expect{0x46, Codec::None, "", "", "stream type 0x05 is not supported"},
           Expect{0x47, Codec::MpegAudio, "", "", "no packets in the part scanned"},
       }) {
    const ScanSummary::NotCarried* n = NotCarriedOn(r, e.pid);
    ASSERT_NE(n, nullptr) << e.pid;
    EXPECT_EQ(n->codec, e.codec) << e.pid;
    EXPECT_STREQ(n->language.data(), e.language) << e.pid;
    EXPECT_STREQ(n->found.data(), e.found) << e.pid;
    EXPECT_STREQ(n->reason.data(), e.reason) << e.pid;
  }
  EXPECT_TRUE(NotCarriedOn(r, 0x44)->hearingImpaired);
  EXPECT_EQ(r.summary.notCarriedCount, 5u);
}

// A fifth MPEG audio track of the programme is named, not dropped silently.
TEST_F(ScanProgrammeTest, AStreamPastTheLimitIsNamedWithTheLimit) {
  TsBuilder ts;
  std::vector<test::PmtStream> streams = {{0x02, kVideoPid, ""}};
  for (std::uint16_t pid = 0x41; pid <= 0x45; ++pid) streams.push_back({0x03, pid, ""});
  for (int i = 0; i < 3; ++i) {
    AddProgram(ts, streams);
    for (std::uint16_t pid = 0x41; pid <= 0x45; ++pid) ts.pes(pid, 0xC0, ThreeFrames(), 0);
  }
  const auto r = ScanProgramme(ts.bytes(), 0);
  EXPECT_EQ(r.tracks.audioCount, 4u);
  const ScanSummary::NotCarried* n = NotCarriedOn(r, 0x45);
  ASSERT_NE(n, nullptr);
  EXPECT_STREQ(n->reason.data(), "more than 4 MPEG audio tracks in the programme");
}

}  // namespace
}  // namespace kelvor
