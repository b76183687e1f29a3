// kelvor-cli convert end to end: ffprobe and ffmpeg read what it writes, the
// exit statuses, and the re-timing after reception drops, measured with the
// sync markers of the generated streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace kelvor::test {
namespace {

namespace fs = std::filesystem;

int Cli(const std::string& args, std::string* out = nullptr) {
  return RunCommand(std::string(KELVOR_CLI) + " convert -q " + args + " 2>&1", out);
}

std::string Probe(const fs::path& file) {
  std::string out;
  RunCommand("ffprobe -v error -show_entries stream=codec_name:stream_tags=language -of csv=p=0 '" +
                 file.string() + "' | sed 's/,$//' | grep . | sort -u",
             &out);
  return out;
}

bool DecodesCleanly(const fs::path& file) {
  std::string errors;
  RunCommand("ffmpeg -nostdin -v error -i '" + file.string() + "' -f null - 2>&1", &errors);
  EXPECT_EQ(errors, "") << file;
  return errors.empty();
}

TEST(ConvertCommand, EveryFormatIsReadByFfmpeg) {
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(mpeg2) || !fs::exists(h264)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  for (const char* ext : {"mpg", "ts", "m2ts"}) {
    const fs::path out = dir / (std::string("all.") + ext);
    ASSERT_EQ(Cli("'" + mpeg2.string() + "' '" + out.string() + "'"), 0);
    // Program stream maps carry languages that ffprobe does not show.
    const std::string probed = Probe(out);
    EXPECT_NE(probed.find("mpeg2video"), std::string::npos);
    EXPECT_NE(probed.find(ext == std::string("mpg") ? "mp2" : "mp2,deu"), std::string::npos);
    EXPECT_NE(probed.find(ext == std::string("mpg") ? "ac3" : "ac3,eng"), std::string::npos);
    DecodesCleanly(out);

    // One track, chosen by its PID in decimal.
    const fs::path one = dir / (std::string("one.") + ext);
    ASSERT_EQ(Cli("--audio 258 '" + mpeg2.string() + "' '" + one.string() + "'"), 0);
    EXPECT_EQ(Probe(one).find("mp2"), std::string::npos);
    EXPECT_NE(Probe(one).find("ac3"), std::string::npos);

    // H.264 with E-AC-3: the E-AC-3 track goes out as AC-3 beside the MP2.
    const fs::path h = dir / (std::string("h264.") + ext);
    ASSERT_EQ(Cli("'" + h264.string() + "' '" + h.string() + "'"), 0);
    EXPECT_NE(Probe(h).find("h264"), std::string::npos);
    EXPECT_NE(Probe(h).find("mp2"), std::string::npos);
    EXPECT_NE(Probe(h).find("ac3"), std::string::npos);
    DecodesCleanly(h);
  }
}

TEST(ConvertCommand, ExitStatusesSayWhatHappened) {
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(mpeg2)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  // One output for every case: each may replace what the one before wrote.
  const std::string out = "'" + (dir / "x.mpg").string() + "' --overwrite";
  EXPECT_EQ(Cli("--format avi '" + mpeg2.string() + "' " + out), 2);
  EXPECT_EQ(Cli("'" + mpeg2.string() + "'"), 2);
  EXPECT_EQ(Cli("--audio 0x1234 '" + mpeg2.string() + "' " + out), 2);
  std::string said;
  EXPECT_EQ(Cli("--to-mpeg-audio '" + mpeg2.string() + "' " + out), 0);
  if (fs::exists(h264)) {
    EXPECT_EQ(Cli("--audio 0x101 '" + h264.string() + "' " + out), 0);  // the E-AC-3 track alone
  }
  EXPECT_EQ(Cli("'" + (dir / "missing.ts").string() + "' " + out), 1);
  // A programme number that does not fit is refused, not cut to its low bits
  // (4294967297 would be programme 1).
  for (const char* number : {"4294967297", "65536", "-1", "0", "0x10000", "1e3"}) {
    EXPECT_EQ(Cli("--program " + std::string(number) + " '" + mpeg2.string() + "' " + out), 2) << number;
  }
  // Video and audio a DVD cannot hold are refused before anything is
  // written; audio by the track, which --audio can leave out.
  for (const auto& [name, reason] : {std::pair{"h264_eac3_mp2.ts", "needs MPEG-2 video"},
                                     std::pair{"mpeg2_50_mp2.ts", "has 50 frames/s"},
                                     std::pair{"mpeg2_mp2_44k.ts", "track 0x0101 is sampled at 44.1 kHz"},
                                     std::pair{"mpeg2_mp2_32k.ts", "is sampled at 32 kHz"}}) {
    if (!fs::exists(Fixture(name))) continue;
    said.clear();
    EXPECT_EQ(Cli("--format dvd '" + Fixture(name).string() + "' '" + (dir / "d.mpg").string() + "'", &said), 2);
    EXPECT_NE(said.find(reason), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(dir / "d.mpg"));
  }
  // A 12-second hole: the MPEG-2 time line cannot be closed over it, so the
  // output ends there, valid, and the command says so.
  const fs::path longStream = Fixture("mpeg2_mp2_long.ts");
  if (!fs::exists(longStream)) return;
  const fs::path jumped = dir / "jumped.ts";
  ASSERT_EQ(RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/impair_ts.py' '" + longStream.string() +
                       "' '" + jumped.string() + "' drop:10:12 >/dev/null"), 0);
  said.clear();
  EXPECT_EQ(Cli("'" + jumped.string() + "' " + out, &said), 3);
  EXPECT_NE(said.find("ends before the end of the input"), std::string::npos) << said;
  EXPECT_NE(said.find("video time 00:00:0"), std::string::npos) << said;
  DecodesCleanly(dir / "x.mpg");
}

// An extension no format has got a program stream under that name: it is
// refused with the ones known, unless --format says what to write. A name
// without an extension (a pipe, /dev/stdout) keeps the format of the video.
TEST(ConvertCommand, UnknownOutputExtensionIsRefusedUnlessTheFormatIsGiven) {
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(mpeg2)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const std::string in = "'" + mpeg2.string() + "' ";
  std::string said;
  EXPECT_EQ(Cli(in + "'" + (dir / "film.avi").string() + "'", &said), 2);
  EXPECT_FALSE(fs::exists(dir / "film.avi"));
  EXPECT_NE(said.find(".mpg, .mpeg, .ts, .m2ts, .mts, .vob or .mkv"), std::string::npos) << said;
  EXPECT_EQ(Cli("--format ts " + in + "'" + (dir / "film.avi").string() + "'"), 0);
  EXPECT_NE(Probe(dir / "film.avi").find("mpeg2video"), std::string::npos);
  EXPECT_EQ(Cli(in + "'" + (dir / "film.MPEG").string() + "'"), 0);
  EXPECT_EQ(Cli(in + "'" + (dir / "film").string() + "'"), 0);
  said.clear();
  EXPECT_EQ(RunCommand("head -c 1 '" + (dir / "film").string() + "' | od -An -tx1", &said), 0);
  EXPECT_EQ(said, " 00\n");  // a pack start code: the program stream
}

// The track list labels a track "[0102]": typed so, or as 0102 or 0x0102,
// it is that track (0102 was read as decimal 102). A PID that is no listed
// track, or no PID at all, gets the tracks, not the whole help.
TEST(ConvertCommand, AudioTrackIsTypedAsTheListShowsIt) {
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(mpeg2)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const std::string args = " '" + mpeg2.string() + "' '" + (dir / "a.mpg").string() + "' --overwrite";
  for (const char* typed : {"0102", "'[0102]'", "0x0102", "258"}) {
    SCOPED_TRACE(typed);
    ASSERT_EQ(Cli(std::string("--audio ") + typed + args), 0);
    EXPECT_EQ(Probe(dir / "a.mpg"), "ac3\nmpeg2video\n");  // the AC-3 track alone
  }
  for (const char* typed : {"0103", "x12", "all1"}) {
    SCOPED_TRACE(typed);
    std::string said;
    EXPECT_EQ(Cli(std::string("--audio ") + typed + args, &said), 2);
    EXPECT_NE(said.find("  0x0101\t[0101] MPEG L2"), std::string::npos) << said;
    EXPECT_EQ(said.find("Usage:"), std::string::npos) << said;
  }
}

// On a terminal the bar steps by whole MiB and stopped at 91 % for a 12 MB
// input: a whole conversion ends it at 100 %.
TEST(ConvertCommand, ProgressBarEndsAtOneHundredPercent) {
  const fs::path input = Fixture("mpeg2_mp2_long.ts");
  if (!fs::exists(input)) GTEST_SKIP() << "generated streams are missing";
  if (RunCommand("command -v script >/dev/null") != 0) GTEST_SKIP() << "script(1) is missing";
  const fs::path dir = TempDir();
  std::string screen;
  ASSERT_EQ(RunCommand("script -qec \"" KELVOR_CLI " convert '" + input.string() + "' '" +
                           (dir / "p.mpg").string() + "'\" /dev/null",
                       &screen),
            0);
  const auto end = screen.find("\n");
  ASSERT_NE(end, std::string::npos) << screen;
  const std::string bar = screen.substr(0, end);
  const std::string last = bar.substr(bar.rfind("\r[", bar.size() - 3) + 1);
  EXPECT_EQ(last.rfind("[##############################] 100%  video 00:01:00", 0), 0u) << last;
}

// An output that cannot be written is exit 4 with the writer's one message,
// never a stop by the user (3): a full device, and a file-size limit.
TEST(ConvertCommand, UnwritableOutputIsExitFour) {
  const fs::path input = Fixture("mpeg2_mp2_long.ts");
  if (!fs::exists(input)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const std::string in = "'" + input.string() + "' ";
  struct Case {
    const char* name;
    std::string command;
  };
  const Case cases[] = {
      {"full device", std::string(KELVOR_CLI) + " convert -q " + in + "/dev/full 2>&1"},
      {"size limit", "ulimit -f 2048; " + std::string(KELVOR_CLI) + " convert -q " + in + "'" +
                         (dir / "limited.mpg").string() + "' 2>&1"},
  };
  for (const Case& c : cases) {
    std::string said;
    EXPECT_EQ(RunCommand(c.command, &said), 4) << c.name << ": " << said;
    std::size_t errors = 0;
    for (auto at = said.find("write error"); at != std::string::npos; at = said.find("write error", at + 1)) ++errors;
    EXPECT_EQ(errors, 1u) << c.name << ": " << said;
    EXPECT_EQ(said.find("stopped by the user"), std::string::npos) << c.name << ": " << said;
  }
}

struct Markers {
  double worstMp2Ms = 1e9;   // over every marker, MP2 tracks
  double worstAc3Ms = 1e9;   // over every marker, AC-3 tracks
  double videoStepMs = 1e9;
  double spanS = 0;          // first to last white frame
  int complete = 0;
};

// Marker offsets per audio format, the largest video PTS step, the time from
// the first to the last white frame and the number of complete markers.
// Each burst is measured against the white frame nearest to it: where a
// drop took a second's burst and the next white frame follows less than
// half a second later, the tool's rows pair that frame's burst with the
// white frame before it.
// `stray`: bursts left out of the offsets (the largest of each codec), for a
// burst whose white frame was lost next to a white frame whose burst was lost.
Markers Measure(const fs::path& file, int stray = 0) {
  std::string out;
  RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/measure_markers.py' '" + file.string() +
                 "' --json | python3 -c \"import json,sys\n"
                 "m=json.load(sys.stdin); w={'mp2':[0],'ac3':[0]}\n"
                 "codecs=[a['codec'] for a in m['audio']]\n"
                 "v=[r['video'] for r in m['markers'] if r['video'] is not None]\n"
                 "for r in m['markers']:\n"
                 "  for c,t in zip(codecs,r['audio']):\n"
                 "    if t is None or c not in w: continue\n"
                 "    d=min((t-x for x in v),key=abs)*1000\n"
                 "    if abs(d)<500: w[c].append(abs(d))\n"
                 "w={c:sorted(x)[-1-min(" + std::to_string(stray) + ",len(x)-1)] for c,x in w.items()}\n"
                 "print(w['mp2'], w['ac3'], m['video']['max_pts_step_ms'], max(v)-min(v), "
                 "m['summary']['complete_markers'])\"",
             &out);
  Markers m;
  std::sscanf(out.c_str(), "%lf %lf %lf %lf %d", &m.worstMp2Ms, &m.worstAc3Ms, &m.videoStepMs, &m.spanS,
              &m.complete);
  return m;
}

// What ffmpeg says when it muxes the pictures in decode order: two pictures
// with one time stamp, or a picture stamped before one that a decoder must
// show ahead of it, admit no decode time.
std::string DecodeOrderComplaints(const fs::path& file) {
  std::string out;
  RunCommand("ffmpeg -nostdin -v error -i '" + file.string() +
                 "' -map 0:v -c copy -f null - 2>&1 | grep -i 'monoton' | head -3",
             &out);
  return out;
}

// Reception drops in MPEG-2 and H.264 input: the time line stays continuous,
// the lost time leaves the output and every picture marker keeps its sound
// within one audio frame (24 ms MP2, 32 ms AC-3), the marker right after each
// drop included.
TEST(ConvertCommand, DropsAreClosedAndMarkersStayAligned) {
  const fs::path longStream = Fixture("mpeg2_mp2_long.ts");
  const fs::path shortStream = Fixture("mpeg2_mp2_ac3.ts");
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(longStream) || !fs::exists(shortStream) || !fs::exists(h264)) {
    GTEST_SKIP() << "generated streams are missing";
  }
  const fs::path dir = TempDir();
  struct Case {
    fs::path input;
    std::string ops;
    int markers;        // complete markers expected at least
    double stepMs;      // largest video PTS step
    double spanS;       // first to last white frame; 0: not checked
    int stray = 0;      // bursts whose white frame was lost, beside a white frame whose burst was
  };
  // A largest step of 80 ms is one picture missing: the time line keeps the
  // place of a B picture lost between pictures already written. A B picture
  // left out because a reference was lost takes no place: the drops of 1 and
  // 3 seconds at 20 s cut that much and the B picture shown last before them.
  // They keep the burst at 20 s and lose its white frame, and lose the burst
  // of the next white frame: the two land that B picture's 40 ms apart and
  // are not measured as one marker.
  const Case cases[] = {
      // One B picture lost between pictures already written: its place stays empty.
      {longStream, "drop:20:0.04", 58, 80.0, 58.0},
      // The GOP after the drop lost its leading pictures.
      {longStream, "drop:20:1", 58, 40.0, 56.96, 1},
      // Contiguous loss in the middle of a GOP: its header is lost. B7 of the
      // GOP before, lost, keeps its place; B4 after the loss lost its
      // references and is left out.
      {longStream, "cut:20:3", 56, 80.0, 55.0},
      {longStream, "dropaudio:20:1", 58, 40.0, 58.0},
      // Repeated packets: none may be taken twice.
      {shortStream, "dup:50 flip:9:40", 9, 40.0, 0.0},
      // The I picture after the drop arrives with one of the two B pictures
      // shown before it: the B picture (the marker) takes the place before it.
      {longStream, "drop:20:3", 56, 40.0, 54.96, 1},
      // Three cuts: GOPs whose start is lost, B pictures without their later
      // reference at the restarts. The GOP cut at 3.7 s keeps the places of
      // its lost pictures (the next GOP arrives at its time): a 0.36 s hole.
      {longStream, "cut:3:0.3 cut:8:0.2 cut:14:0.45", 56, 360.0, 0.0},
      // Five cuts: after those at 17.3 and 25 s the sound arrives before the
      // picture that shows the loss; the late frames wait for it rather than
      // fill a gap that the picture's time line then closes. The cut at 5.5 s
      // keeps the places of four lost pictures.
      {longStream, "cut:5.5:0.1 cut:11:0.07 cut:17.3:0.6 cut:25:1.5 cut:40:0.25", 55, 160.0, 0.0},
      {h264, "drop:4:3", 5, 40.0, 0.0},
      // The sound after the drop comes early: every frame of its PES packets
      // is dropped until it is back in step, not only the first, which has
      // the time stamp. The burst at 10 s lies in what is dropped.
      {longStream, "drop:8.63:1.29", 57, 120.0, 56.60},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ops);
    const fs::path in = dir / "in.ts";
    const fs::path out = dir / "out.mpg";
    ASSERT_EQ(RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/impair_ts.py' '" +
                         c.input.string() + "' '" + in.string() + "' " + c.ops + " >/dev/null"),
              0);
    ASSERT_EQ(Cli("--overwrite '" + in.string() + "' '" + out.string() + "'"), 0);
    const Markers m = Measure(out, c.stray);
    EXPECT_GE(m.complete, c.markers) << "the rest is there";
    EXPECT_LE(m.worstMp2Ms, 24.0) << "aligned within one MP2 frame";
    EXPECT_LE(m.worstAc3Ms, 32.0) << "aligned within one AC-3 frame";
    EXPECT_LE(m.videoStepMs, c.stepMs) << "the time line is continuous";
    if (c.spanS > 0) {
      EXPECT_NEAR(m.spanS, c.spanS, 0.045) << "the lost time is gone";
    }
    EXPECT_EQ(DecodeOrderComplaints(out), "") << "pictures stamped in an order decoders can follow";
  }
}

// --keep-eac3: E-AC-3 goes into TS and M2TS as it came, each frame timed by
// its own blocks: the stream into TS, and with a reception drop into M2TS: every burst within one
// frame (32 ms) of its white frame, and ffmpeg decodes it without error. In
// MPG it is still rewritten as AC-3.
TEST(ConvertCommand, KeepEac3WritesItUnchangedIntoTsAndM2ts) {
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(h264)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const fs::path dropped = dir / "dropped.ts";
  ASSERT_EQ(RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/impair_ts.py' '" + h264.string() + "' '" +
                       dropped.string() + "' drop:4:3 >/dev/null"),
            0);
  struct Case {
    fs::path input;
    const char* ext;
    int markers;
  };
  for (const Case& c : {Case{h264, ".ts", 9}, Case{dropped, ".m2ts", 6}}) {
    const fs::path& input = c.input;
    {
      const char* ext = c.ext;
      const fs::path out = dir / ("kept-" + input.stem().string() + ext);
      std::string said;
      ASSERT_EQ(Cli("--overwrite --keep-eac3 '" + input.string() + "' '" + out.string() + "'", &said), 0) << said;
      const std::string streams = Probe(out);
      EXPECT_NE(streams.find("eac3,eng\n"), std::string::npos) << out << ": " << streams;
      EXPECT_EQ(("\n" + streams).find("\nac3"), std::string::npos) << out << ": " << streams;
      DecodesCleanly(out);
      std::string worst;
      RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/measure_markers.py' '" + out.string() +
                     "' --json | python3 -c \"import json,sys\n"
                     "m=json.load(sys.stdin); k=[a['codec'] for a in m['audio']].index('eac3')\n"
                     "o=[abs(r['offset_ms'][k]) for r in m['markers'] if r['offset_ms'][k] is not None]\n"
                     "print(len(o), max(o))\"",
                 &worst);
      int measured = 0;
      double worstMs = 1e9;
      std::sscanf(worst.c_str(), "%d %lf", &measured, &worstMs);
      EXPECT_GE(measured, c.markers) << out << " " << worst;
      EXPECT_LE(worstMs, 32.0) << out;
    }
  }
  const fs::path mpg = dir / "kept.mpg";
  ASSERT_EQ(Cli("--overwrite --keep-eac3 '" + h264.string() + "' '" + mpg.string() + "'"), 0);
  const std::string streams = Probe(mpg);
  EXPECT_NE(("\n" + streams).find("\nac3\n"), std::string::npos) << streams;
  EXPECT_EQ(streams.find("eac3"), std::string::npos) << streams;
}

// AAC in ADTS and in LATM beside MP2, clean and with 0.4 s lost: carried
// as it came into TS and M2TS (each burst within one 1024-sample frame, no
// decoding error, one output frame per input frame when nothing is lost);
// MPG names the track and converts the rest, and refuses it when chosen.
TEST(ConvertCommand, CarriesAacAsItCameIntoTsAndM2ts) {
  const fs::path adts = Fixture("mpeg2_mp2_aac.ts");
  const fs::path latm = Fixture("mpeg2_mp2_latm.ts");
  if (!fs::exists(adts) || !fs::exists(latm)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const auto frames = [](const fs::path& file) {
    std::string n;
    RunCommand("ffprobe -v error -select_streams a:1 -count_packets -show_entries stream=nb_read_packets "
               "-of csv=p=0 '" + file.string() + "'",
               &n);
    return std::atoi(n.c_str());
  };
  for (const auto& [input, codec] : {std::pair{adts, "aac"}, std::pair{latm, "aac_latm"}}) {
    const fs::path dropped = dir / ("dropped-" + input.filename().string());
    ASSERT_EQ(RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/impair_ts.py' '" + input.string() + "' '" +
                         dropped.string() + "' drop:1.3:0.4 >/dev/null"),
              0);
    // The clean stream into TS, the one with the loss into M2TS.
    for (const auto& [in, ext] : {std::pair{input, ".ts"}, std::pair{dropped, ".m2ts"}}) {
      {
        const fs::path out = dir / ("out-" + in.stem().string() + ext);
        std::string said;
        ASSERT_EQ(Cli("--overwrite '" + in.string() + "' '" + out.string() + "'", &said), 0) << said;
        EXPECT_NE(Probe(out).find(std::string(codec) + ",fin\n"), std::string::npos) << out << ": " << Probe(out);
        DecodesCleanly(out);
        // Every frame but the first PES's eight, which come before the
        // output's start (the MP2 track's first frame).
        if (in == input) {
          EXPECT_EQ(frames(out), 134) << out;
        }
        std::string worst;
        RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/measure_markers.py' '" + out.string() +
                       "' --json | python3 -c \"import json,sys\n"
                       "m=json.load(sys.stdin)\n"
                       "o=[abs(r['offset_ms'][1]) for r in m['markers'] if r['offset_ms'][1] is not None]\n"
                       "print(len(o), max(o))\"",
                   &worst);
        int measured = 0;
        double worstMs = 1e9;
        std::sscanf(worst.c_str(), "%d %lf", &measured, &worstMs);
        EXPECT_GE(measured, 2) << out << " " << worst;
        EXPECT_LE(worstMs, 1024 * 1000.0 / 48000) << out;
      }
    }
    const fs::path mpg = dir / (input.stem().string() + ".mpg");
    std::string said;
    ASSERT_EQ(RunCommand(std::string(KELVOR_CLI) + " convert --overwrite '" + input.string() + "' '" + mpg.string() +
                             "' 2>&1",
                         &said),
              0)
        << said;
    EXPECT_NE(said.find("PID 0x0102 (AAC ("), std::string::npos) << said;
    EXPECT_NE(said.find("not converted: AAC audio goes into TS and M2TS only (--format ts|m2ts)"), std::string::npos)
        << said;
    EXPECT_EQ(Probe(mpg), "mp2\nmpeg2video\n");
    EXPECT_EQ(Cli("--overwrite --audio 0x102 --format dvd '" + input.string() + "' '" + mpg.string() + "'"), 2);
  }
}

}  // namespace
}  // namespace kelvor::test
