// kelvor-cli encode-mp2 against real decoders, and its answers to bad input.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kelvor::mpegenc {
namespace {

const std::string kCli = KELVOR_CLI;

std::string Sox(const std::string& args) { return "sox -n " + args + " 2>&1"; }

// Frames of 1152 bytes, each starting FF FD E4 00.
std::size_t CheckFrames(const std::vector<std::uint8_t>& mp2) {
  EXPECT_EQ(mp2.size() % 1152, 0u);
  for (std::size_t at = 0; at + 4 <= mp2.size(); at += 1152) {
    EXPECT_TRUE(mp2[at] == 0xFF && mp2[at + 1] == 0xFD && mp2[at + 2] == 0xE4 && mp2[at + 3] == 0x00) << at;
  }
  return mp2.size() / 1152;
}

TEST(EncodeMp2Command, EverySampleFormatDecodesCleanly) {
  const auto dir = test::TempDir();
  const std::string formats[] = {"-b 16 -e signed", "-b 24 -e signed", "-b 32 -e signed", "-b 32 -e float"};
  const std::size_t samples = 48000 + 100;  // a final partial frame
  for (const std::string& format : formats) {
    SCOPED_TRACE(format);
    const auto wav = dir / "in.wav";
    const auto mp2 = dir / "out.mp2";
    ASSERT_EQ(test::RunCommand(Sox("-r 48000 -c 2 " + format + " " + wav.string() + " synth " + std::to_string(samples) +
                                   "s sine 300-9000 vol 0.5")), 0);
    std::string out;
    ASSERT_EQ(test::RunCommand(kCli + " encode-mp2 " + wav.string() + " " + mp2.string() + " 2>&1", &out), 0) << out;
    const std::size_t frames = CheckFrames(test::ReadFile(mp2));
    // Every input sample and the filterbank's delay fit; not a frame more.
    EXPECT_EQ(frames, (samples + 481 + 1151) / 1152);
    std::string errors;
    EXPECT_EQ(test::RunCommand("ffmpeg -v error -xerror -i " + mp2.string() + " -f null - 2>&1", &errors), 0);
    EXPECT_EQ(errors, "");
    std::string decoded;
    EXPECT_EQ(test::RunCommand("mpg123 -q -s " + mp2.string() + " 2>&1 | wc -c", &decoded), 0);
    EXPECT_EQ(std::stoul(decoded), frames * 1152 * 4);  // 16-bit stereo
  }
}

TEST(EncodeMp2Command, BadInputGetsAClearMessage) {
  const auto dir = test::TempDir();
  const auto good = dir / "good.wav";
  ASSERT_EQ(test::RunCommand(Sox("-r 48000 -c 2 -b 16 " + good.string() + " synth 0.5 sine 440")), 0);
  const auto bytes = test::ReadFile(good);
  test::WriteFile(dir / "truncated.wav", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 44 + 3001));
  test::WriteFile(dir / "header_only.wav", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 44));
  test::WriteFile(dir / "garbage.wav", std::vector<std::uint8_t>(5000, 0x5A));
  ASSERT_EQ(test::RunCommand(Sox("-r 44100 -c 2 -b 16 " + (dir / "cd.wav").string() + " synth 0.5 sine 440")), 0);
  ASSERT_EQ(test::RunCommand(Sox("-r 48000 -c 1 -b 16 " + (dir / "mono.wav").string() + " synth 0.5 sine 440")), 0);
  ASSERT_EQ(test::RunCommand(Sox("-r 48000 -c 2 -b 8 -e unsigned " + (dir / "u8.wav").string() + " synth 0.5 sine 440")), 0);
  ASSERT_EQ(test::RunCommand(Sox("-r 48000 -c 2 -b 16 " + (dir / "empty.wav").string() + " trim 0 0")), 0);

  struct Case {
    const char* file;
    int status;
    const char* message;  // part of what the user reads; empty for success
  };
  const Case cases[] = {
      {"truncated.wav", 0, ""},  // what is there is encoded
      {"header_only.wav", 1, "holds no audio samples"},
      {"empty.wav", 1, "holds no audio samples"},
      {"garbage.wav", 1, "cannot read"},
      {"missing.wav", 1, "cannot read"},
      {"cd.wav", 1, "sample rate of 44100 Hz; only 48000 Hz"},
      {"mono.wav", 1, "has 1 channel; only stereo"},
      {"u8.wav", 1, "16-, 24- or 32-bit integer or 32-bit float"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto mp2 = dir / (std::string(c.file) + ".mp2");
    std::string out;
    const int status = test::RunCommand(kCli + " encode-mp2 " + (dir / c.file).string() + " " + mp2.string() + " 2>&1", &out);
    EXPECT_EQ(status, c.status) << out;
    if (c.status == 0) {
      EXPECT_GT(CheckFrames(test::ReadFile(mp2)), 0u);
      EXPECT_EQ(test::RunCommand("ffmpeg -v error -xerror -i " + mp2.string() + " -f null -"), 0);
    } else {
      EXPECT_NE(out.find(c.message), std::string::npos) << out;
      EXPECT_FALSE(std::filesystem::exists(mp2));
    }
  }
  EXPECT_EQ(test::RunCommand(kCli + " encode-mp2 " + good.string() + " 2>/dev/null"), 2);
}

}  // namespace
}  // namespace kelvor::mpegenc
