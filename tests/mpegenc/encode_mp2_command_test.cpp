// kelvor-cli encode-mp2 against real decoders, and its answers to bad input.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
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
  ASSERT_EQ(test::RunCommand(Sox("-r 22050 -c 2 -b 16 " + (dir / "half.wav").string() + " synth 0.5 sine 440")), 0);
  ASSERT_EQ(test::RunCommand(Sox("-r 48000 -c 3 -b 16 " + (dir / "three.wav").string() + " synth 0.5 sine 440")), 0);
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
      {"half.wav", 1, "sample rate of 22050 Hz; only 32000, 44100 and 48000 Hz"},
      {"three.wav", 1, "has 3 channels; only mono and stereo"},
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

// The bit rate must be a Layer II rate, and one the input's channels take:
// a refusal is the command line's (exit 2) and leaves no output.
TEST(EncodeMp2Command, BitRatesTheChannelsDoNotTakeAreRefused) {
  const auto dir = test::TempDir();
  const auto stereo = dir / "stereo.wav";
  const auto mono = dir / "mono.wav";
  ASSERT_EQ(test::RunCommand(Sox("-r 44100 -c 2 -b 16 " + stereo.string() + " synth 0.2 sine 440")), 0);
  ASSERT_EQ(test::RunCommand(Sox("-r 32000 -c 1 -b 16 " + mono.string() + " synth 0.2 sine 440")), 0);
  struct Case {
    std::string args;
    const char* message;
  };
  const Case cases[] = {
      {"-b 100 " + stereo.string(), "'100' is not a Layer II bit rate"},
      {"-b 128k " + stereo.string(), "'128k' is not a Layer II bit rate"},
      {"-b " + stereo.string(), "is not a Layer II bit rate"},  // the value is missing: the input is taken for it
      {"-b 48 " + stereo.string(), "48 kbit/s is not a Layer II rate for stereo"},
      {"-b 80 " + stereo.string(), "80 kbit/s is not a Layer II rate for stereo"},
      {"-b 224 " + mono.string(), "224 kbit/s is not a Layer II rate for mono"},
      {"-b 384 " + mono.string(), "384 kbit/s is not a Layer II rate for mono"},
  };
  const auto mp2 = dir / "out.mp2";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(test::RunCommand(kCli + " encode-mp2 " + c.args + " " + mp2.string() + " 2>&1", &out), 2) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(mp2));
  }
}

// Every sample rate and both channel counts, at bit rates that take each
// allocation table (bench/mp2_rates.py goes through all of them): the frames
// are the lengths their headers give and keep the bit rate (44.1 kHz with
// padded frames), and ffmpeg and mpg123 decode them without a word to
// frames x 1152 samples. Without -b, the highest rate of the channels.
TEST(EncodeMp2Command, EveryRateChannelsAndBitRateDecodeCleanly) {
  const auto dir = test::TempDir();
  const std::size_t kbpsIndex[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
  const int stereoKbps[] = {64, 128, 192, 0};
  const int monoKbps[] = {32, 56, 160, 0};
  for (const int rate : {32000, 44100, 48000}) {
    for (const int channels : {1, 2}) {
      const auto wav = dir / "in.wav";
      const std::size_t samples = static_cast<std::size_t>(rate) / 4 + 77;
      // The rate before -n: the length in samples counts at that rate.
      ASSERT_EQ(test::RunCommand("sox -r " + std::to_string(rate) + " -c " + std::to_string(channels) + " -n -b 16 " +
                                 wav.string() + " synth " + std::to_string(samples) + "s pinknoise vol 0.4"),
                0);
      for (const int kbps : channels == 1 ? std::span<const int>(monoKbps) : std::span<const int>(stereoKbps)) {
        const int expectedKbps = kbps != 0 ? kbps : channels == 1 ? 192 : 384;
        SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " ch, " + std::to_string(expectedKbps) + " kbit/s");
        const auto mp2 = dir / "out.mp2";
        const std::string option = kbps != 0 ? "-b " + std::to_string(kbps) + " " : "";
        std::string out;
        ASSERT_EQ(test::RunCommand(kCli + " encode-mp2 " + option + wav.string() + " " + mp2.string() + " 2>&1", &out), 0) << out;
        const auto bytes = test::ReadFile(mp2);
        std::size_t at = 0;
        std::size_t frames = 0;
        while (at + 4 <= bytes.size()) {
          ASSERT_TRUE(bytes[at] == 0xFF && bytes[at + 1] == 0xFD) << at;
          const int rateIndex = (bytes[at + 2] >> 2) & 3;
          EXPECT_EQ(kbpsIndex[bytes[at + 2] >> 4], static_cast<std::size_t>(expectedKbps));
          EXPECT_EQ(rateIndex, rate == 44100 ? 0 : rate == 48000 ? 1 : 2);
          EXPECT_EQ(bytes[at + 3] >> 6, channels == 1 ? 3 : 0);
          at += 144000 * static_cast<std::size_t>(expectedKbps) / static_cast<std::size_t>(rate) + ((bytes[at + 2] >> 1) & 1);
          ++frames;
        }
        EXPECT_EQ(at, bytes.size());
        EXPECT_EQ(frames, (samples + 481 + 1151) / 1152);
        // The bytes keep the bit rate to within one.
        EXPECT_NEAR(static_cast<double>(bytes.size()), static_cast<double>(frames) * 1152.0 / rate * expectedKbps * 125.0, 1.0);
        const std::size_t expectedBytes = frames * 1152 * 2 * static_cast<std::size_t>(channels);  // 16-bit
        const auto errors = dir / "errors.txt";
        for (const std::string& decoder : {"ffmpeg -v error -xerror -i " + mp2.string() + " -f s16le -", "mpg123 -q -s " + mp2.string()}) {
          std::string decoded;
          EXPECT_EQ(test::RunCommand(decoder + " 2>" + errors.string() + " | wc -c", &decoded), 0) << decoder;
          EXPECT_EQ(std::stoul(decoded), expectedBytes) << decoder;
          const auto said = test::ReadFile(errors);
          EXPECT_EQ(std::string(said.begin(), said.end()), "") << decoder;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kelvor::mpegenc
