// Whole files written from the access units of streams ffmpeg made, read
// back by the peers: mkvinfo (structure, no warnings), mkvmerge -J (tracks,
// languages, flags, sizes), ffmpeg (decoding, seeking, chapters). Also the
// files a stopped run and a pipe leave, and units larger than a cluster.
#include "matroska/matroska_muxer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "io/output_writer.h"
#include "matroska/matroska_test_support.h"

namespace kelvor::mkv {
namespace {

namespace fs = std::filesystem;
using test::ByteSink;
using test::DecodeErrors;
using test::Ffmpeg;
using test::MkvInfo;
using test::MkvMergeSummary;
using test::Quoted;
using test::ReadUnits;
using test::Unit;

// The streams, made once for the whole suite (about two seconds).
class MatroskaFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new fs::path(kelvor::test::TempDir());
    const std::string ts = " -f mpegts -pes_payload_size 0 ";
    made_ = Ffmpeg("-f lavfi -i testsrc=size=720x576:rate=25 -f lavfi -i sine=f=440:r=48000 -f lavfi "
                   "-i sine=f=660:r=48000 -t 4 -map 0:v -map 1:a -map 2:a -c:v mpeg2video -g 12 -bf 2 -b:v 2M "
                   "-aspect 16:9 -flags +ilme+ildct -c:a:0 mp2 -ac:a:0 2 -c:a:1 ac3 -ac:a:1 6 "
                   "-metadata:s:a:0 language=ger -metadata:s:a:1 language=eng" + ts + Quoted(*dir_ / "mpeg2.ts")) &&
            Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=f=440:r=48000 -t 4 -c:v libx264 "
                   "-preset veryfast -g 25 -bf 2 -pix_fmt yuv420p -x264-params aud=1 -c:a aac -ac 2" + ts +
                   Quoted(*dir_ / "h264.ts")) &&
            Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 2 -c:v libx265 -preset ultrafast -g 25 "
                   "-pix_fmt yuv420p -x265-params log-level=error" + ts + Quoted(*dir_ / "hevc.ts")) &&
            Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 4 -c:v libx264 -preset veryfast -g 60 -bf 0 "
                   "-pix_fmt yuv420p" + ts + Quoted(*dir_ / "h264_gop2s.ts")) &&
            Ffmpeg("-f lavfi -i sine=f=440:r=44100 -t 2 -c:a aac -ac 1 -mpegts_flags latm" + ts + Quoted(*dir_ / "latm.ts"));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
    ASSERT_TRUE(made_) << "ffmpeg (with libx264 and libx265) made no streams";
  }

  // Feeds every unit of `ts` whose PID has a track in `tracks` (PID ->
  // track setup, tracks added in PID order) and finishes unless told not to.
  // Returns the number of units per track.
  std::map<std::uint32_t, int> Mux(MatroskaMuxer& mux, const fs::path& ts,
                                   const std::map<std::uint32_t, TrackSetup>& setups, bool finish = true) {
    mux.Reset();
    std::map<std::uint32_t, std::uint32_t> trackOf;
    for (const auto& [pid, setup] : setups) trackOf[pid] = mux.AddTrack(setup);
    std::map<std::uint32_t, int> counts;
    for (const Unit& u : ReadUnits(ts)) {
      const auto it = trackOf.find(u.pid);
      if (it == trackOf.end()) continue;
      EXPECT_TRUE(mux.WriteUnit(it->second, u.pts, u.key || it->second != 0, u.bytes));
      ++counts[it->second];
    }
    if (finish) {
      EXPECT_TRUE(mux.Finish());
    }
    return counts;
  }

  static TrackSetup Setup(TrackCodec codec, const char* language = "und", bool isDefault = false) {
    TrackSetup s;
    s.codec = codec;
    for (int i = 0; i < 3; ++i) s.language[i] = language[i];
    s.isDefault = isDefault;
    return s;
  }

  // mkvinfo reads every block and names no fault; `finished` files have
  // their index and, where the head could be written back, their duration.
  static test::MkvInfoReading ExpectReadable(const fs::path& file, int blocks, bool cues, bool duration) {
    test::MkvInfoReading r = MkvInfo(file);
    EXPECT_EQ(r.problems, "") << file;
    EXPECT_EQ(r.blocks, blocks) << file;
    EXPECT_EQ(r.cues, cues) << file;
    EXPECT_EQ(r.duration, duration) << file;
    return r;
  }
  static int Sum(const std::map<std::uint32_t, int>& counts) {
    int n = 0;
    for (const auto& [track, count] : counts) n += count;
    return n;
  }

  // The size of `ours` against mkvmerge's and ffmpeg's Matroska files of
  // the same transport stream: at most 0.5 % over the smaller.
  static void ExpectSizeLikePeers(const fs::path& ours, const fs::path& ts) {
    const fs::path merged = ours.parent_path() / (ours.stem().string() + ".mkvmerge.mkv");
    const fs::path copied = ours.parent_path() / (ours.stem().string() + ".ffmpeg.mkv");
    ASSERT_EQ(test::RunCommand("mkvmerge -q -o " + Quoted(merged) + " " + Quoted(ts)), 0);
    ASSERT_TRUE(Ffmpeg("-i " + Quoted(ts) + " -map 0 -c copy -f matroska " + Quoted(copied)));
    const auto size = static_cast<double>(fs::file_size(ours));
    const auto peer = static_cast<double>(std::min(fs::file_size(merged), fs::file_size(copied)));
    std::printf("%s: %.0f bytes, mkvmerge %ju, ffmpeg %ju (%+.2f %% over the smaller)\n", ours.filename().c_str(), size,
                static_cast<std::uintmax_t>(fs::file_size(merged)), static_cast<std::uintmax_t>(fs::file_size(copied)),
                (size / peer - 1) * 100);
    EXPECT_LE(size, peer * 1.005);
  }

  static int Packets(const fs::path& file, const char* stream) {
    std::string out;
    test::RunCommand("ffprobe -v quiet -count_packets -select_streams " + std::string(stream) +
                         " -show_entries stream=nb_read_packets -of csv=p=0 " + Quoted(file),
                     &out);
    return std::atoi(out.c_str());
  }

  kelvor::test::RecordingUiPort ui_;
  OutputWriter writer_{ui_};
  MatroskaMuxer mux_{writer_};
  static fs::path* dir_;
  static bool made_;
};

fs::path* MatroskaFiles::dir_ = nullptr;
bool MatroskaFiles::made_ = false;

// MPEG-2 video with MPEG audio and 5.1 AC-3: every unit arrives, the peers
// read the tracks as described and decode without a message.
TEST_F(MatroskaFiles, Mpeg2WithMpegAudioAndAc3) {
  const fs::path out = *dir_ / "mpeg2.mkv";
  ASSERT_TRUE(writer_.OpenOutput(kelvor::test::PathText(out), {.exactLength = true, .keep = {}}));
  TrackSetup ad = Setup(TrackCodec::Ac3, "eng");
  ad.visualImpaired = true;
  const auto counts = Mux(mux_, *dir_ / "mpeg2.ts",
                          {{0x100, Setup(TrackCodec::Mpeg2Video)}, {0x101, Setup(TrackCodec::MpegL2, "ger", true)},
                           {0x102, ad}});
  ASSERT_TRUE(writer_.CloseOutput());

  const std::string info = ExpectReadable(out, Sum(counts), true, true).text;
  const auto summary = MkvMergeSummary(out);
  ASSERT_EQ(summary.size(), 4u);
  EXPECT_NEAR(std::stod(summary[0]), 4.0e9, 0.05e9);
  EXPECT_EQ(summary[1], "V_MPEG2 und 0 0 720x576 1024x576 0 0");
  EXPECT_EQ(summary[2], "A_MPEG/L2 ger 1 0 - - 0 0");
  EXPECT_EQ(summary[3], "A_AC3 eng 0 0 - - 1 0");
  EXPECT_EQ(DecodeErrors(out), "");
  EXPECT_EQ(Packets(out, "v:0"), counts.at(0));
  EXPECT_EQ(Packets(out, "a:0"), counts.at(1));
  EXPECT_EQ(Packets(out, "a:1"), counts.at(2));
  ExpectSizeLikePeers(out, *dir_ / "mpeg2.ts");
  EXPECT_EQ(mux_.droppedUnits(), 0u);
  EXPECT_NE(info.find("Interlaced: 1"), std::string::npos) << info;
  EXPECT_NE(info.find("Codec's private data: size 22"), std::string::npos) << "sequence header and extension";
  // One cue per key frame (a GOP of 12 over 4 s), each pointing at it.
  const test::CueCheck cues = test::FollowCues(kelvor::test::ReadFile(out));
  EXPECT_EQ(cues.bad, 0);
  EXPECT_EQ(cues.good, (counts.at(0) + 11) / 12);
  EXPECT_NE(info.find("Default duration: 00:00:00.040000000"), std::string::npos) << info;
}

// H.264 and ADTS AAC: the decoder configuration and the AudioSpecificConfig
// come from the stream, start codes become lengths, ADTS headers go.
TEST_F(MatroskaFiles, H264AndAacFromTheirOwnHeaders) {
  const fs::path out = *dir_ / "h264.mkv";
  ASSERT_TRUE(writer_.OpenOutput(kelvor::test::PathText(out), {.exactLength = true, .keep = {}}));
  const auto counts =
      Mux(mux_, *dir_ / "h264.ts", {{0x100, Setup(TrackCodec::Avc)}, {0x101, Setup(TrackCodec::Aac, "spa", true)}});
  ASSERT_TRUE(writer_.CloseOutput());

  ExpectReadable(out, Sum(counts), true, true);
  const auto summary = MkvMergeSummary(out);
  ASSERT_EQ(summary.size(), 3u);
  EXPECT_EQ(summary[1], "V_MPEG4/ISO/AVC und 0 0 320x240 320x240 0 0");
  EXPECT_EQ(summary[2], "A_AAC spa 1 0 - - 0 0");
  EXPECT_EQ(DecodeErrors(out), "");
  EXPECT_EQ(Packets(out, "v:0"), counts.at(0));
  EXPECT_EQ(Packets(out, "a:0"), counts.at(1));
  ExpectSizeLikePeers(out, *dir_ / "h264.ts");

  // Seeking to 2.5 s starts at the key frame before it, within a GOP (1 s).
  std::string first;
  test::RunCommand("ffprobe -v error -read_intervals 2.5%+#1 -select_streams v:0 -show_entries "
                   "packet=pts_time,flags -of csv=p=0 " + Quoted(out),
                   &first);
  ASSERT_GE(first.size(), 3u) << first;
  const double at = std::stod(first);
  EXPECT_LE(at, 2.5);
  EXPECT_GE(at, 1.5);
  EXPECT_NE(first.find('K'), std::string::npos) << first;
  const test::CueCheck cues = test::FollowCues(kelvor::test::ReadFile(out));
  EXPECT_EQ(cues.bad, 0);
  EXPECT_EQ(cues.good, 4);
}

// A recording cut in mid-GOP: the parameter sets come with the key frame
// 2.4 s in, where a cluster would begin; the head waits for them.
TEST_F(MatroskaFiles, ParameterSetsThatComeLateStillMakeTheHead) {
  ByteSink sink;
  MatroskaMuxer mux(sink);
  mux.Reset();
  const std::uint32_t v = mux.AddTrack(Setup(TrackCodec::Avc));
  int written = 0;
  for (const Unit& u : ReadUnits(*dir_ / "h264_gop2s.ts")) {
    if (u.pid != 0x100 || (written == 0 && u.key)) continue;  // from the first picture after the key frame
    ASSERT_TRUE(mux.WriteUnit(v, u.pts, u.key, u.bytes));
    ++written;
  }
  ASSERT_TRUE(mux.Finish());
  const fs::path out = *dir_ / "late.mkv";
  kelvor::test::WriteFile(out, sink.bytes);
  const std::string text = ExpectReadable(out, written, true, true).text;
  EXPECT_NE(text.find("Codec's private data: size 4"), std::string::npos) << text.substr(0, 3000);
  EXPECT_NE(text.find("Pixel width: 320"), std::string::npos);
}

TEST_F(MatroskaFiles, HevcFromItsOwnParameterSets) {
  const fs::path out = *dir_ / "hevc.mkv";
  ASSERT_TRUE(writer_.OpenOutput(kelvor::test::PathText(out), {.exactLength = true, .keep = {}}));
  const auto counts = Mux(mux_, *dir_ / "hevc.ts", {{0x100, Setup(TrackCodec::Hevc)}});
  ASSERT_TRUE(writer_.CloseOutput());
  ExpectReadable(out, Sum(counts), true, true);
  const auto summary = MkvMergeSummary(out);
  ASSERT_EQ(summary.size(), 2u);
  EXPECT_EQ(summary[1], "V_MPEGH/ISO/HEVC und 0 0 320x240 320x240 0 0");
  EXPECT_EQ(DecodeErrors(out), "");
  EXPECT_EQ(Packets(out, "v:0"), counts.at(0));
}

// AAC in LATM (DVB's framing): the configuration from the first frame that
// carries one, the raw frames out of their LOAS framing.
TEST_F(MatroskaFiles, AacFromLatm) {
  const fs::path out = *dir_ / "latm.mkv";
  ASSERT_TRUE(writer_.OpenOutput(kelvor::test::PathText(out), {.exactLength = true, .keep = {}}));
  const auto counts = Mux(mux_, *dir_ / "latm.ts", {{0x100, Setup(TrackCodec::Aac, "pol", true)}});
  ASSERT_TRUE(writer_.CloseOutput());
  ExpectReadable(out, Sum(counts), true, true);
  EXPECT_EQ(DecodeErrors(out), "");
  EXPECT_EQ(Packets(out, "a:0"), counts.at(0));
  std::string audio;
  test::RunCommand("ffprobe -v error -show_entries stream=sample_rate,channels -of csv=p=0 " + Quoted(out), &audio);
  EXPECT_EQ(audio, "44100,1\n");
}

// Chapters at the start and at a cut, named by their time.
TEST_F(MatroskaFiles, ChaptersAtTheStartAndAtCuts) {
  const fs::path out = *dir_ / "chapters.mkv";
  ASSERT_TRUE(writer_.OpenOutput(kelvor::test::PathText(out), {.exactLength = true, .keep = {}}));
  mux_.Reset();
  const std::uint32_t t = mux_.AddTrack(Setup(TrackCodec::MpegL2));
  mux_.AddChapter(2 * 90000 + 4500);
  mux_.AddChapter(0);
  int frames = 0;
  for (const Unit& u : ReadUnits(*dir_ / "mpeg2.ts")) {
    if (u.pid == 0x101) {
      ASSERT_TRUE(mux_.WriteUnit(t, u.pts, true, u.bytes));
      ++frames;
    }
  }
  ASSERT_TRUE(mux_.Finish());
  ASSERT_TRUE(writer_.CloseOutput());
  std::string chapters;
  test::RunCommand("ffprobe -v error -show_entries chapter=start_time:chapter_tags=title -of csv=p=0 " + Quoted(out),
                   &chapters);
  EXPECT_EQ(chapters, "0.000000,00:00:00.000\n2.050000,00:00:02.050\n");
  ExpectReadable(out, frames, true, true);
}

// A run that stops without finishing (the process killed), and a pipe that
// cannot go back: what was written is a valid file that decodes.
TEST_F(MatroskaFiles, UnfinishedAndUnseekableOutputsStayValid) {
  const auto units = ReadUnits(*dir_ / "mpeg2.ts");
  for (const bool finish : {false, true}) {
    ByteSink sink;
    sink.seekable = false;
    MatroskaMuxer mux(sink);
    mux.Reset();
    const std::uint32_t v = mux.AddTrack(Setup(TrackCodec::Mpeg2Video));
    const std::uint32_t a = mux.AddTrack(Setup(TrackCodec::MpegL2));
    int written = 0;
    for (const Unit& u : units) {
      if (u.pid == 0x100 || u.pid == 0x101) {
        ASSERT_TRUE(mux.WriteUnit(u.pid == 0x100 ? v : a, u.pts, u.key || u.pid != 0x100, u.bytes));
        ++written;
      }
    }
    if (finish) {
      ASSERT_TRUE(mux.Finish());
    }
    EXPECT_EQ(sink.rewrites, 0);
    ASSERT_FALSE(sink.bytes.empty());
    const fs::path out = *dir_ / (finish ? "pipe.mkv" : "stopped.mkv");
    kelvor::test::WriteFile(out, sink.bytes);
    const test::MkvInfoReading r = MkvInfo(out);
    EXPECT_EQ(r.problems, "");
    EXPECT_FALSE(r.duration);
    EXPECT_EQ(r.cues, finish);
    if (finish) {
      EXPECT_EQ(r.blocks, written);
    }
    EXPECT_EQ(DecodeErrors(out), "") << finish;
    // Without its last cluster (still in memory) the stopped file ends at a
    // whole cluster: about 2 s of the 4.
    const int frames = Packets(out, "v:0");
    EXPECT_GE(frames, finish ? 100 : 40);
  }
}

// A refused write ends the run at once and is reported as such.
TEST_F(MatroskaFiles, RefusedOutputEndsTheRun) {
  ByteSink sink;
  sink.refuseAfterBytes = 200000;
  MatroskaMuxer mux(sink);
  mux.Reset();
  const std::uint32_t v = mux.AddTrack(Setup(TrackCodec::Mpeg2Video));
  bool refused = false;
  for (const Unit& u : ReadUnits(*dir_ / "mpeg2.ts")) {
    if (u.pid != 0x100) continue;
    if (!mux.WriteUnit(v, u.pts, u.key, u.bytes)) {
      refused = true;
      break;
    }
  }
  EXPECT_TRUE(refused);
  EXPECT_FALSE(mux.Finish());
  EXPECT_LE(sink.bytes.size(), 200000u);
}

// Every stamp is rounded to the millisecond on its own: ten hours of 29.97
// frames a second end where the 90 kHz clock says, not a sum of rounded
// frame durations away; a stamp before the start is the start.
TEST_F(MatroskaFiles, TimesAreRoundedStampByStamp) {
  ByteSink sink;
  MatroskaMuxer mux(sink);
  mux.Reset();
  const std::uint32_t s = mux.AddTrack(Setup(TrackCodec::Pgs));
  const std::vector<std::uint8_t> unit(16, 0x16);
  const std::int64_t tenHours = std::int64_t{10} * 3600 * 90000;
  for (const std::int64_t pts : {std::int64_t{-900}, std::int64_t{44}, std::int64_t{45}, tenHours + 3003 * 1000,
                                 tenHours + 3003 * 1001}) {
    ASSERT_TRUE(mux.WriteUnit(s, pts, true, unit));
  }
  // A unit whose time comes after its first bytes.
  ASSERT_TRUE(mux.BeginUnit(s, kNoStamp, true));
  ASSERT_TRUE(mux.WriteUnitBytes(unit));
  mux.SetUnitTime(tenHours + 3003 * 1002);
  ASSERT_TRUE(mux.EndUnit());
  ASSERT_TRUE(mux.Finish());
  const fs::path out = *dir_ / "times.mkv";
  kelvor::test::WriteFile(out, sink.bytes);
  const std::string text = ExpectReadable(out, 6, true, true).text;
  for (const char* stamp : {"timestamp 00:00:00.000000000", "timestamp 00:00:00.001000000",
                            "timestamp 10:00:33.367000000", "timestamp 10:00:33.400000000",
                            "timestamp 10:00:33.433000000"}) {
    EXPECT_NE(text.find(stamp), std::string::npos) << stamp << "\n" << text;
  }
}

// A long recording has more key frames than the index holds: the index
// keeps every other one (then every fourth...), each still pointing at its
// block, spread over the whole file.
TEST_F(MatroskaFiles, IndexOfALongRecordingIsThinnedNotCutOff) {
  ByteSink sink;
  MatroskaMuxer mux(sink);
  mux.Reset();
  const std::uint32_t v = mux.AddTrack(Setup(TrackCodec::Mpeg2Video));
  const std::vector<std::uint8_t> picture = {0, 0, 1, 0xB3, 0x16, 0x01, 0x20, 0x13, 0xFF, 0xFF, 0xE0, 0x18};
  const std::uint32_t count = MatroskaMuxer::kMaxCues + 5000;
  for (std::uint32_t k = 0; k < count; ++k) {
    ASSERT_TRUE(mux.WriteUnit(v, std::int64_t{k} * 3600, true, picture));
  }
  ASSERT_TRUE(mux.Finish());
  const test::CueCheck cues = test::FollowCues(sink.bytes);
  EXPECT_EQ(cues.bad, 0);
  EXPECT_GT(cues.good, static_cast<int>(MatroskaMuxer::kMaxCues / 2));
  EXPECT_LE(cues.good, static_cast<int>(MatroskaMuxer::kMaxCues));
  EXPECT_GE(cues.lastTime, std::uint64_t{count - 4} * 40) << "the last cues are at the end";
}

// Units of several megabytes fill clusters early; a unit larger than a
// whole cluster is left out and counted, and the file stays whole.
TEST_F(MatroskaFiles, LargeUnitsSplitClustersAndOversizedOnesAreLeftOut) {
  ByteSink sink;
  MatroskaMuxer mux(sink);
  mux.Reset();
  const std::uint32_t s = mux.AddTrack(Setup(TrackCodec::Pgs));
  std::vector<std::uint8_t> big(5u << 20);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
  for (int k = 0; k < 8; ++k) {
    ASSERT_TRUE(mux.WriteUnit(s, 45000 + k * 9000, true, big));
  }
  // Written in two pieces, and too large once whole.
  std::vector<std::uint8_t> huge(MatroskaMuxer::kClusterBytes / 2 + 1);
  ASSERT_TRUE(mux.BeginUnit(s, 45000 + 8 * 9000, true));
  ASSERT_TRUE(mux.WriteUnitBytes(huge));
  ASSERT_TRUE(mux.WriteUnitBytes(huge));
  ASSERT_TRUE(mux.EndUnit());
  ASSERT_TRUE(mux.WriteUnit(s, 45000 + 9 * 9000, true, big));
  ASSERT_TRUE(mux.Finish());
  EXPECT_EQ(mux.droppedUnits(), 1u);
  const fs::path out = *dir_ / "large.mkv";
  kelvor::test::WriteFile(out, sink.bytes);
  ExpectReadable(out, 9, true, true);
  EXPECT_EQ(Packets(out, "s:0"), 9);
  // From the first unit at 0.5 s to the end of the last: one second, as a
  // reader measures a stream that starts late.
  EXPECT_NEAR(mux.durationMs(), 1000.0, 1.0);
  std::string duration;
  test::RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quoted(out), &duration);
  EXPECT_EQ(duration, "1.000000\n");
}

}  // namespace
}  // namespace kelvor::mkv
