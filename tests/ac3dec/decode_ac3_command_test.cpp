// kelvor-cli decode-ac3, called in-process, so that it is compared sample by
// sample with the decoder it uses.
#include "cli/decode_ac3_command.cpp"  // NOLINT(bugprone-suspicious-include)

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ac3_test_support.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

int RunDecode(std::vector<std::string> args) {
  args.insert(args.begin(), "decode-ac3");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return cli::RunDecodeAc3Command(static_cast<int>(argv.size()), argv.data());
}

// The samples of a float WAV file, interleaved.
std::vector<float> WavSamples(const std::filesystem::path& path) {
  const auto bytes = test::ReadFile(path);
  std::size_t at = 12;
  while (at + 8 <= bytes.size()) {
    std::uint32_t size = 0;
    std::memcpy(&size, bytes.data() + at + 4, 4);
    if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
      std::vector<float> samples(size / 4);
      std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 4);
      return samples;
    }
    at += 8 + size;
  }
  return {};
}

TEST(DecodeAc3Command, CommandLine) {
  EXPECT_EQ(RunDecode({"--help"}), cli::kExitOk);
  EXPECT_EQ(RunDecode({}), cli::kExitUsage);
  EXPECT_EQ(RunDecode({"in.ac3"}), cli::kExitUsage);
  EXPECT_EQ(RunDecode({"--loud", "in.ac3", "out.wav"}), cli::kExitUsage);
  EXPECT_EQ(RunDecode({"a", "b", "c"}), cli::kExitUsage);
  const auto dir = test::TempDir();
  EXPECT_EQ(RunDecode({(dir / "missing.ac3").string(), (dir / "out.wav").string()}), cli::kExitInputError);
  // A WAV that cannot be written is an output error, as in convert.
  EXPECT_EQ(RunDecode({test::Fixture("ac3_mono_tone_96k.ac3").string(), (dir / "no" / "such" / "dir.wav").string()}),
            cli::kExitOutputError);
  const auto noise = dir / "noise.bin";
  std::vector<std::uint8_t> bytes(5000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7919 % 251);
  test::WriteFile(noise, bytes);
  EXPECT_EQ(RunDecode({noise.string(), (dir / "noise.wav").string()}), cli::kExitInputError);
}

TEST(DecodeAc3Command, WritesWhatTheDecoderMakesAsFloatWav) {
  const auto input = test::Fixture("ac3_51_tone_448k.ac3");
  const auto output = test::TempDir() / "out.wav";
  ASSERT_EQ(RunDecode({"--stats", input.string(), output.string()}), cli::kExitOk);

  std::string probe;
  ASSERT_EQ(test::RunCommand("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate -of "
                             "default=nw=1 '" + output.string() + "'", &probe), 0);
  EXPECT_NE(probe.find("codec_name=pcm_f32le"), std::string::npos) << probe;
  EXPECT_NE(probe.find("channels=2"), std::string::npos);
  EXPECT_NE(probe.find("sample_rate=48000"), std::string::npos);

  auto decoder = std::make_unique<Ac3Decoder>();
  const test::StereoPcm expected = test::DecodeStream(test::ReadFile(input), *decoder);
  const std::vector<float> samples = WavSamples(output);
  ASSERT_EQ(samples.size(), 2 * expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(samples[2 * i], static_cast<float>(expected.left[i])) << i;
    ASSERT_EQ(samples[2 * i + 1], static_cast<float>(expected.right[i])) << i;
  }
}

TEST(DecodeAc3Command, TakesTheFirstPrivateTrackOfATransportStream) {
  const auto ts = test::Fixture("ac3_in_ts.ts");
  const auto dir = test::TempDir();
  const auto es = dir / "track.ac3";
  ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -v error -y -i '" + ts.string() + "' -map 0:a:1 -c copy -f ac3 '" +
                             es.string() + "'"), 0);
  ASSERT_EQ(RunDecode({ts.string(), (dir / "from_ts.wav").string()}), cli::kExitOk);
  ASSERT_EQ(RunDecode({es.string(), (dir / "from_es.wav").string()}), cli::kExitOk);
  const auto from_ts = WavSamples(dir / "from_ts.wav");
  EXPECT_GT(from_ts.size(), 48000u);
  EXPECT_EQ(from_ts, WavSamples(dir / "from_es.wav"));
  // Junk in front of the first packet: the packets are found by the sync search.
  auto shifted = test::ReadFile(ts);
  shifted.insert(shifted.begin(), {0x00, 0x47, 0x12});
  test::WriteFile(dir / "shifted.ts", shifted);
  ASSERT_EQ(RunDecode({(dir / "shifted.ts").string(), (dir / "shifted.wav").string()}), cli::kExitOk);
  EXPECT_EQ(WavSamples(dir / "shifted.wav"), from_ts);

  for (const char* name : {"sample_ac3.ts", "sample_eac3.ts"}) {
    const auto sample = test::PublicSample(name);
    if (sample.empty()) continue;
    const auto out = dir / (std::string(name) + ".wav");
    EXPECT_EQ(RunDecode({sample.string(), out.string()}), cli::kExitOk) << name;
    EXPECT_GT(WavSamples(out).size(), 2u * 1536) << name;
  }
}

TEST(DecodeAc3Command, DamagedFramesBecomeSilenceOfTheSameLength) {
  const auto input = test::Fixture("ac3_stereo_tone_192k.ac3");
  auto bytes = test::ReadFile(input);
  const auto frames = test::SplitFrames(bytes);
  ASSERT_GT(frames.size(), 10u);
  bytes[frames[4].offset + frames[4].length / 2] ^= 0xFF;
  const auto dir = test::TempDir();
  test::WriteFile(dir / "damaged.ac3", bytes);
  ASSERT_EQ(RunDecode({input.string(), (dir / "good.wav").string()}), cli::kExitOk);
  ASSERT_EQ(RunDecode({(dir / "damaged.ac3").string(), (dir / "damaged.wav").string()}), cli::kExitOk);
  const auto good = WavSamples(dir / "good.wav");
  const auto damaged = WavSamples(dir / "damaged.wav");
  ASSERT_EQ(good.size(), damaged.size());
  const std::size_t from = 4 * 1536 * 2;
  for (std::size_t i = from; i < from + 1536 * 2; ++i) ASSERT_EQ(damaged[i], 0.0f) << i;
  for (std::size_t i = 0; i < from; ++i) ASSERT_EQ(damaged[i], good[i]) << i;
}

}  // namespace
}  // namespace kelvor
