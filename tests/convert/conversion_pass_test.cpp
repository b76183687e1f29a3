// The conversion driver through the engine: the common start rule, time
// stamps across the 2^32 wrap, continuity, and input that is damaged or
// incomplete, which must still leave a closed output of whole packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/flags.h"
#include "convert/engine.h"
#include "convert_test_support.h"
#include "support/test_support.h"

namespace kelvor::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Mp2Frame() {
  Bytes f{0xFF, 0xFD, 0x84, 0x00};  // 128 kbit/s: 384 bytes
  f.resize(384, 0x55);
  return f;
}

// Runs scan and conversion of `input` into TS output; returns the output.
struct Converted {
  ConversionOutcome outcome;
  Bytes output;
  StreamTiming timing;
  std::vector<std::string> messages;
};

Converted Convert(const Bytes& input, OutputFormat format = OutputFormat::Ts,
                  std::uint32_t selectPid = kAllTracks) {
  const auto dir = TempDir();
  WriteFile(dir / "in.ts", input);
  RecordingUiPort ui;
  Engine engine(ui);
  engine.setInputPath((dir / "in.ts").string());
  abortRequested = false;
  engine.runScan();
  engine.tracks().selectedAudioPid = selectPid;
  ConversionRequest request;
  request.outputPath = (dir / "out").string();
  request.format = format;
  Converted c;
  c.outcome = engine.runConversion(request);
  c.timing = engine.timing();
  c.messages = ui.messages();
  if (std::filesystem::exists(dir / "out")) c.output = ReadFile(dir / "out");
  return c;
}

// Audio frames written per audio PID of TS output (one PES per frame).
std::size_t AudioPesCount(const Bytes& ts, std::uint16_t pid) {
  std::size_t n = 0;
  for (std::size_t k = 0; k + 188 <= ts.size(); k += 188) {
    n += ts[k] == 0x47 && (ts[k + 1] & 0x40) && (((ts[k + 1] & 0x1F) << 8) | ts[k + 2]) == pid;
  }
  return n;
}

// A minimal program: PAT, PMT with MPEG-2 video and two MP2 tracks.
void ProgramTables(TsBuilder& ts) {
  const Bytes pat{0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xE1, 0x00,
                  0x00, 0x00, 0x00, 0x00};
  ts.packet(0, true, pat);
  Bytes pmt{0x00, 0x02, 0xB0, 0x1C, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0, 0x00,
            0x02, 0xE1, 0x00, 0xF0, 0x00, 0x03, 0xE1, 0x01, 0xF0, 0x00, 0x03, 0xE1, 0x02, 0xF0, 0x00,
            0x00, 0x00, 0x00, 0x00};
  ts.packet(0x100, true, pmt);
}

Bytes VideoGop(std::uint32_t pictures) {
  Bytes b{0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0x24, 0x9F, 0x23, 0x81,
          0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x40};
  for (std::uint32_t tr = 0; tr < pictures; ++tr) {
    const Bytes pic{0x00, 0x00, 0x01, 0x00, static_cast<std::uint8_t>(tr >> 2),
                    static_cast<std::uint8_t>((tr & 3) << 6 | 0x08), 0x00, 0x00, 0x01, 0x01, 0x33, 0x44};
    b.insert(b.end(), pic.begin(), pic.end());
  }
  return b;
}

// Video and two MP2 tracks from `firstPts` on, `seconds` long.
void AddContent(TsBuilder& ts, std::uint32_t firstPts, int gops, std::int64_t secondTrackShift = 0) {
  const Bytes frame = Mp2Frame();
  for (int g = 0; g < gops; ++g) {
    const std::uint32_t t = firstPts + static_cast<std::uint32_t>(g) * 43200;
    ts.pes(0x100, 0xE0, VideoGop(12), t);
    for (int k = 0; k < 20; ++k) {
      const std::uint32_t a = t + static_cast<std::uint32_t>(k) * 2160;
      ts.pes(0x101, 0xC0, frame, a);
      ts.pes(0x102, 0xC1, frame, static_cast<std::uint32_t>(a + secondTrackShift));
    }
  }
}

TEST(ConversionPass, AudioStartsAtTheFirstAudioTimeStamp) {
  TsBuilder ts;
  ProgramTables(ts);
  // Track 1 starts at PTS 1 000 000; track 2 has a frame one tick earlier,
  // which is dropped, then one exactly at the start.
  const Bytes frame = Mp2Frame();
  ts.pes(0x101, 0xC0, frame, 1000000);
  ts.pes(0x102, 0xC1, frame, 999999);
  ts.pes(0x102, 0xC1, frame);  // no PTS before the start: dropped too
  ts.pes(0x102, 0xC1, frame, 1000000);
  AddContent(ts, 1002160, 4);
  const Converted c = Convert(ts.bytes());
  ASSERT_TRUE(c.outcome.outputOpened);
  EXPECT_TRUE(c.outcome.reachedEndOfInput);
  EXPECT_TRUE(c.timing.startFound);
  EXPECT_EQ(c.outcome.timeRemoved, 0);
  EXPECT_EQ(c.timing.startBase, 991000u);
  EXPECT_EQ(AudioPesCount(c.output, 0x1100), 81u);
  EXPECT_EQ(AudioPesCount(c.output, 0x1101), 81u);
  EXPECT_EQ(c.output.size() % 188, 0u);  // a TS output ends with its last packet
}

TEST(ConversionPass, VideoWithoutAudioAnchorsOnTheVideo) {
  TsBuilder ts;
  const Bytes pat{0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x01, 0xE1, 0x00,
                  0x00, 0x00, 0x00, 0x00};
  ts.packet(0, true, pat);
  const Bytes pmt{0x00, 0x02, 0xB0, 0x12, 0x00, 0x01, 0xC1, 0x00, 0x00, 0xE1, 0x00, 0xF0,
                  0x00, 0x02, 0xE1, 0x00, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00};
  ts.packet(0x100, true, pmt);
  for (std::uint32_t g = 0; g < 4; ++g) ts.pes(0x100, 0xE0, VideoGop(12), 500000 + g * 43200);
  const Converted c = Convert(ts.bytes());
  EXPECT_TRUE(c.outcome.videoWritten);
  EXPECT_EQ(c.timing.startBase, 491000u);
  EXPECT_GT(c.timing.videoTime, 2u * 43200);
  EXPECT_EQ(AudioPesCount(c.output, 0x1100), 0u);  // no audio stream made up
}

TEST(ConversionPass, TimeStampsWrapAt32Bits) {
  TsBuilder ts;
  ProgramTables(ts);
  // Start 20 000 ticks before the 32-bit wrap; the second track's first PTS
  // lies past it (small, unsigned) and must still count as after the start.
  const std::uint32_t start = 0xFFFFFFFFu - 20000;
  ts.pes(0x101, 0xC0, Mp2Frame(), start);
  AddContent(ts, start + 2160, 4);
  const Converted c = Convert(ts.bytes());
  EXPECT_EQ(c.timing.startBase, start - 9000);
  EXPECT_EQ(AudioPesCount(c.output, 0x1100), 81u);
  EXPECT_EQ(AudioPesCount(c.output, 0x1101), 80u);
  EXPECT_GT(c.timing.videoTime, 0u);
  EXPECT_LT(c.timing.videoTime, 4u * 43200 + 9000);
}

TEST(ConversionPass, RepeatedPacketsAreTakenOnceAndLostOnesEndTheirPes) {
  auto framesOut = [](bool repeat, bool lose) {
    TsBuilder ts;
    ProgramTables(ts);
    AddContent(ts, 90000, 2);
    // One more PES of track 1: two frames over 5 packets.
    Bytes two = Mp2Frame();
    const Bytes f = Mp2Frame();
    two.insert(two.end(), f.begin(), f.end());
    TsBuilder pes;
    pes.pes(0x101, 0xC0, two, 90000 + 86400);
    Bytes bytes = ts.bytes();
    const Bytes& extra = pes.bytes();
    for (std::size_t k = 0; k < extra.size(); k += 188) {
      Bytes packet(extra.begin() + static_cast<std::ptrdiff_t>(k), extra.begin() + static_cast<std::ptrdiff_t>(k + 188));
      packet[3] = static_cast<std::uint8_t>((packet[3] & 0xF0) | ((40 + k / 188) & 0x0F));
      if (lose && k == 188) continue;
      bytes.insert(bytes.end(), packet.begin(), packet.end());
      if (repeat && k == 188) bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    AddContent(ts, 0, 0);
    // Padding so that the last packets are read.
    for (int k = 0; k < 8; ++k) {
      const Bytes null(188, 0xFF);
      Bytes p = null;
      p[0] = 0x47;
      p[1] = 0x1F;
      p[2] = 0xFF;
      p[3] = 0x10;
      bytes.insert(bytes.end(), p.begin(), p.end());
    }
    return AudioPesCount(Convert(bytes).output, 0x1100);
  };
  const std::size_t plain = framesOut(false, false);
  EXPECT_EQ(framesOut(true, false), plain) << "a repeated packet is not passed twice";
  EXPECT_EQ(framesOut(false, true), plain - 2) << "a lost packet ends that PES";
}

// Picture start codes in the video of TS output.
std::size_t PictureCount(const Bytes& ts) {
  Bytes es;
  for (std::size_t k = 0; k + 188 <= ts.size(); k += 188) {
    if ((((ts[k + 1] & 0x1F) << 8) | ts[k + 2]) != 0x1011) continue;
    const std::size_t start = (ts[k + 3] & 0x20) ? 5u + ts[k + 4] : 4u;
    es.insert(es.end(), ts.begin() + static_cast<std::ptrdiff_t>(k + start), ts.begin() + static_cast<std::ptrdiff_t>(k + 188));
  }
  const Bytes picture{0x00, 0x00, 0x01, 0x00};
  std::size_t n = 0;
  for (auto it = es.begin(); (it = std::search(it, es.end(), picture.begin(), picture.end())) != es.end(); ++it) ++n;
  return n;
}

TEST(ConversionPass, RepeatedPesStartIsTakenOnceButANewPesIsNot) {
  // Video PES packets of one TS packet each (a one-picture GOP): `repeatAt`
  // is sent twice; with `sameCounter` the PES packets from the fourth on
  // carry the counter of the one before (packets were lost between them),
  // but their content differs.
  auto picturesOut = [](int repeatAt, bool sameCounter) {
    TsBuilder ts;
    ProgramTables(ts);
    AddContent(ts, 90000, 2);
    Bytes bytes = ts.bytes();
    for (int k = 0; k < 6; ++k) {
      TsBuilder one;
      one.pes(0x100, 0xE0, VideoGop(1), 90000 + 2 * 43200 + 3600 * k);
      Bytes packet = one.bytes();
      int cc = 4 + k;
      if (sameCounter && k >= 3) cc -= 1;
      packet[3] = static_cast<std::uint8_t>((packet[3] & 0xF0) | (cc & 0x0F));
      bytes.insert(bytes.end(), packet.begin(), packet.end());
      if (k == repeatAt) bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    TsBuilder tail;
    AddContent(tail, 90000 + 2 * 43200 + 6 * 3600, 1);
    bytes.insert(bytes.end(), tail.bytes().begin(), tail.bytes().end());
    return PictureCount(Convert(bytes).output);
  };
  const std::size_t plain = picturesOut(-1, false);
  EXPECT_EQ(picturesOut(2, false), plain) << "a repeated PES start is not passed twice";
  EXPECT_EQ(picturesOut(-1, true), plain) << "a new PES whose counter did not move is still taken";
}

TEST(ConversionPass, StopIsSeenInsideJunkWithoutSyncBytes) {
  // 8 MiB without a sync byte between two stretches of content: the stop
  // asked for after the first MiB must end the run there, not after the junk.
  TsBuilder head;
  ProgramTables(head);
  AddContent(head, 90000, 2);
  Bytes input = head.bytes();
  const std::size_t junkStart = input.size();
  input.resize(junkStart + 8 * 0x100000, 0x00);
  TsBuilder tail;
  AddContent(tail, 90000 + 2 * 43200, 2);
  input.insert(input.end(), tail.bytes().begin(), tail.bytes().end());

  const auto dir = TempDir();
  WriteFile(dir / "in.ts", input);
  StopAtFirstProgress ui;
  Engine engine(ui);
  engine.setInputPath((dir / "in.ts").string());
  abortRequested = false;
  engine.runScan();
  engine.tracks().selectedAudioPid = kAllTracks;
  ConversionRequest request;
  request.outputPath = (dir / "out").string();
  const ConversionOutcome outcome = engine.runConversion(request);
  abortRequested = false;
  EXPECT_TRUE(outcome.stoppedByUser);
  EXPECT_LT(outcome.inputOffset, junkStart + 2 * 0x100000);
  ASSERT_FALSE(ui.messages().empty());
  EXPECT_EQ(ui.messages().back().rfind("Convertion done!", 0), 0u);
  // The final report says it is one; front ends pick the box from that.
  EXPECT_EQ(ui.kinds().back(), MessageKind::Report);
}

TEST(ConversionPass, DamagedInputLeavesAClosedOutputOfWholePackets) {
  const auto fixture = Fixture("mpeg2_mp2_ac3.ts");
  if (!std::filesystem::exists(fixture)) GTEST_SKIP() << "generated streams are missing";
  const Bytes clean = ReadFile(fixture);
  std::mt19937 random(5);
  std::vector<std::pair<std::string, Bytes>> inputs;
  inputs.emplace_back("truncated mid-packet", Bytes(clean.begin(), clean.begin() + 1000001));
  Bytes flipped = clean;
  for (int k = 0; k < 3000; ++k) flipped[random() % flipped.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
  inputs.emplace_back("bit flips", flipped);
  Bytes garbage = clean;
  Bytes junk(50000);
  for (auto& b : junk) b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0x47 : random());
  garbage.insert(garbage.begin() + 2000000, junk.begin(), junk.end());
  inputs.emplace_back("garbage inserted", garbage);
  Bytes noise(3000000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(random());
  inputs.emplace_back("random bytes", noise);
  // Only video and tables: no audio PTS, so nothing may start.
  Bytes videoOnly;
  for (std::size_t k = 0; k + 188 <= clean.size(); k += 188) {
    const std::uint32_t pid = ((clean[k + 1] & 0x1Fu) << 8) | clean[k + 2];
    if (pid != 0x101 && pid != 0x102) videoOnly.insert(videoOnly.end(), clean.begin() + static_cast<std::ptrdiff_t>(k), clean.begin() + static_cast<std::ptrdiff_t>(k + 188));
  }
  inputs.emplace_back("no audio", videoOnly);

  for (const auto& [name, input] : inputs) {
    for (const auto format : {OutputFormat::ProgramStream, OutputFormat::Ts}) {
      const Converted c = Convert(input, format);
      SCOPED_TRACE(name);
      if (!c.outcome.outputOpened) continue;  // the scan found nothing to convert
      const std::size_t size = format == OutputFormat::Ts ? 188 : 2048;
      // Whole packets: a program stream's are 512-byte multiples, and a TS
      // ends with its last packet.
      EXPECT_EQ(c.output.size() % size, 0u);
      std::size_t k = 0;
      while (k + size <= c.output.size() && c.output[k] == (size == 188 ? 0x47 : 0x00)) k += size;
      for (; k < c.output.size(); ++k) ASSERT_EQ(c.output[k], 0) << "offset " << k;
      ASSERT_FALSE(c.messages.empty());
      EXPECT_EQ(c.messages.back().rfind("Convertion done!", 0), 0u);
    }
  }
}

}  // namespace
}  // namespace kelvor::test
