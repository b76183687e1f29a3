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

    // H.264 with E-AC-3: that track is left out with a message, MP2 stays.
    const fs::path h = dir / (std::string("h264.") + ext);
    std::string said;
    ASSERT_EQ(Cli("'" + h264.string() + "' '" + h.string() + "'", &said), 0);
    EXPECT_NE(said.find("left out"), std::string::npos);
    EXPECT_EQ(Probe(h).find("mp2") != std::string::npos && Probe(h).find("h264") != std::string::npos, true);
    DecodesCleanly(h);
  }
}

TEST(ConvertCommand, ExitStatusesSayWhatHappened) {
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(mpeg2)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const std::string out = "'" + (dir / "x.mpg").string() + "'";
  EXPECT_EQ(Cli("--format avi '" + mpeg2.string() + "' " + out), 2);
  EXPECT_EQ(Cli("'" + mpeg2.string() + "'"), 2);
  EXPECT_EQ(Cli("--audio 0x1234 '" + mpeg2.string() + "' " + out), 2);
  std::string said;
  EXPECT_EQ(Cli("--to-mpeg-audio '" + mpeg2.string() + "' " + out, &said), 2);
  EXPECT_NE(said.find("not available"), std::string::npos);
  if (fs::exists(h264)) {
    EXPECT_EQ(Cli("--audio 0x101 '" + h264.string() + "' " + out), 2);
  }
  EXPECT_EQ(Cli("'" + (dir / "missing.ts").string() + "' " + out), 1);
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

struct Markers {
  double worstAwayMs = 1e9;
  double videoStepMs = 1e9;
  int complete = 0;
};

// Worst marker offset more than 2.5 s from `dropAt` (output seconds), the
// largest video PTS step, and the number of complete markers.
Markers Measure(const fs::path& file, double dropAt) {
  std::string out;
  RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/measure_markers.py' '" + file.string() +
                 "' --json | python3 -c \"import json,sys\n"
                 "m=json.load(sys.stdin); w=0\n"
                 "for r in m['markers']:\n"
                 "  o=[abs(x) for x in r['offset_ms'] if x is not None]\n"
                 "  if o and r['video'] is not None and abs(r['video']-" +
                 std::to_string(dropAt) + ")>2.5: w=max(w,max(o))\n"
                 "print(w, m['video']['max_pts_step_ms'], m['summary']['complete_markers'])\"",
             &out);
  Markers m;
  std::sscanf(out.c_str(), "%lf %lf %d", &m.worstAwayMs, &m.videoStepMs, &m.complete);
  return m;
}

TEST(ConvertCommand, DropsAreClosedAndMarkersStayAligned) {
  const fs::path longStream = Fixture("mpeg2_mp2_long.ts");
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(longStream) || !fs::exists(h264)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  struct Case {
    fs::path input;
    std::string ops;
    double dropAt;       // output seconds, about
    int markers;         // complete markers expected at least
  };
  const Case cases[] = {
      {longStream, "drop:20:0.04", 19, 57},
      {longStream, "drop:20:3", 19, 55},
      {longStream, "cut:20:3", 19, 55},
      {h264, "drop:4:3", 3, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ops);
    const fs::path in = dir / "in.ts";
    const fs::path out = dir / "out.mpg";
    ASSERT_EQ(RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/impair_ts.py' '" +
                         c.input.string() + "' '" + in.string() + "' " + c.ops + " >/dev/null"),
              0);
    ASSERT_EQ(Cli("'" + in.string() + "' '" + out.string() + "'"), 0);
    const Markers m = Measure(out, c.dropAt);
    EXPECT_GE(m.complete, c.markers) << "the lost time is gone, the rest is there";
    EXPECT_LE(m.worstAwayMs, 32.0) << "aligned within one audio frame";
    // One lost reference picture may leave a one-picture hole; never more.
    EXPECT_LE(m.videoStepMs, 160.0);
  }
}

}  // namespace
}  // namespace kelvor::test
