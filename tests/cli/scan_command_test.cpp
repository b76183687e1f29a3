// kelvor-cli scan as users and scripts call it.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace kelvor {
namespace {

std::string Cli(const std::string& args, int* status) {
  std::string out;
  *status = test::RunCommand(std::string(KELVOR_CLI) + " " + args + " 2>&1", &out);
  return out;
}

TEST(ScanCommand, PrintsRowsWithThePidEachSelects) {
  const auto path = test::Fixture("mpeg2_mp2_ac3.ts");
  int status = -1;
  const std::string out = Cli("scan " + path.string(), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("0\tmpeg2_mp2_ac3.ts\n"), std::string::npos) << out;
  EXPECT_NE(out.find("MPEG L2 192Kb 48KHz Stereo [deu]\t0x0"), std::string::npos) << out;
  EXPECT_NE(out.find("3\t All audio tracks\tall\n"), std::string::npos) << out;
}

TEST(ScanCommand, JsonShowsTheVideoAndTracks) {
  int status = -1;
  const std::string out = Cli("scan --json " + test::Fixture("h264_eac3_mp2.ts").string(), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("\"codec\": \"h264\""), std::string::npos) << out;
  EXPECT_NE(out.find("\"kind\": \"eac3\", \"language\": \"eng\", \"channels\": 5, \"lfe\": 1"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\"packet_size\": 188"), std::string::npos);
  if (test::RunCommand("python3 -c 'import json,sys; json.load(sys.stdin)' <<'EOF'\n" + out + "\nEOF") != 0) {
    ADD_FAILURE() << "not valid JSON:\n" << out;
  }
}

TEST(ScanCommand, ExitStatusesTellInputAndUsageErrorsApart) {
  int status = -1;
  // One line that says what and where, not the desktop program's texts.
  std::string out = Cli("scan /nonexistent/film.ts", &status);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(out, "kelvor-cli scan: '/nonexistent/film.ts': No such file or directory\n");
  const auto empty = test::TempDir() / "empty.ts";
  test::WriteFile(empty, {});
  out = Cli("scan " + empty.string(), &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("Empty"), std::string::npos) << out;
  Cli("scan", &status);
  EXPECT_EQ(status, 2);
  Cli("scan --bogus x.ts", &status);
  EXPECT_EQ(status, 2);
  Cli("frobnicate", &status);
  EXPECT_EQ(status, 2);
  out = Cli("scan --help", &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("Usage: kelvor-cli scan"), std::string::npos);
  out = Cli("--help", &status);
  EXPECT_EQ(status, 0);
}

TEST(ScanCommand, VerbosePrintsWarningsAndGoesOn) {
  int status = -1;
  const std::string out = Cli("scan /V " + test::Fixture("mpeg2_5mp2.ts").string(), &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(out.find("Warning: more than 4 audio channels!"), std::string::npos) << out;
  EXPECT_NE(out.find("5\t All audio tracks\tall"), std::string::npos) << out;
}

// The program's help names every exit status its commands give (it
// stopped at 2 while convert gives 3 and 4), and exits 0.
TEST(ScanCommand, ProgramHelpNamesEveryExitStatus) {
  int status = -1;
  const std::string help = Cli("--help", &status);
  EXPECT_EQ(status, 0);
  for (const char* code : {"0 success", "1 the input", "2 bad command line", "3 the output is valid", "4 the output"}) {
    EXPECT_NE(help.find(code), std::string::npos) << code << " missing in:\n" << help;
  }
}

}  // namespace
}  // namespace kelvor

namespace kelvor {
namespace {

// Streams of kinds the conversion does not carry are named on the error
// output, in the scan's JSON and in the conversion's report, with what
// their headers say.
TEST(ScanCommand, NamesTheStreamsItDoesNotCarry) {
  const std::string dts = std::string(KELVOR_PUBLIC_SAMPLES) + "/sample_h264_dts_audio.ts";
  int status = -1;
  std::string out = Cli("scan " + dts, &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("PID 0x0101 (DTS, DTS 44.1 kHz 1.0, [und]) not listed: DTS audio is not supported"),
            std::string::npos)
      << out;
  out = Cli("scan --json " + std::string(KELVOR_PUBLIC_SAMPLES) + "/sample_latm.ts 2>/dev/null", &status);
  EXPECT_NE(out.find("\"kind\": \"aac_latm\", \"language\": \"und\", \"audio_type\": null, "
                     "\"found\": \"HE-AAC 44.1 kHz 1 ch\", \"reason\": \"AAC audio (LATM) is not supported\""),
            std::string::npos)
      << out;

  const auto dir = test::TempDir();
  const std::string report = (dir / "report.json").string();
  out = Cli("convert --overwrite --report " + report + " " + dts + " " + (dir / "out.m2ts").string(), &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("kelvor-cli convert: PID 0x0101 (DTS, DTS 44.1 kHz 1.0, [und]) not converted: DTS audio is "
                     "not supported"),
            std::string::npos)
      << out;
  std::string json;
  test::RunCommand("cat " + report, &json);
  EXPECT_NE(json.find("\"not_supported\": [\n        {\"pid\": 257, \"stream_type\": 130, \"kind\": \"dts\""),
            std::string::npos)
      << json;
  if (test::RunCommand("python3 -c 'import json,sys; json.load(sys.stdin)' < " + report) != 0) {
    ADD_FAILURE() << "not valid JSON:\n" << json;
  }
}

}  // namespace
}  // namespace kelvor
