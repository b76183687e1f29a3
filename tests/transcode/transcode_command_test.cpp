// kelvor-cli transcode-eac3 end to end: ffmpeg-made E-AC-3 in, AC-3 out that
// ffmpeg decodes without complaint; dependent substreams left out; the
// first E-AC-3 track of a TS.
#include <gtest/gtest.h>

#include <string>

#include "ac3_test_support.h"
#include "ac3dec/frame_header.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

int Transcode(const std::filesystem::path& in, const std::filesystem::path& out) {
  return test::RunCommand(std::string(KELVOR_CLI) + " transcode-eac3 " + Quote(in) + " " + Quote(out) + " 2>&1");
}

// The AC-3 frames of a stream, each checked.
std::size_t CountValidFrames(const Bytes& es, std::size_t expected_size) {
  std::size_t n = 0;
  for (const test::FrameRef& f : test::SplitFrames(es)) {
    const auto frame = std::span<const std::uint8_t>(es).subspan(f.offset, f.length);
    EXPECT_FALSE(f.eac3);
    EXPECT_EQ(f.length, expected_size);
    EXPECT_TRUE(ac3::check_syncframe(frame, false));
    ++n;
  }
  return n;
}

class TranscodeCommand : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::TempDir();
    input_ = dir_ / "in.eac3";
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i 'sine=frequency=500:duration=1:sample_rate=48000' "
                            "-af 'pan=5.1|FL=c0|FR=0.7*c0|FC=0.5*c0|LFE=0.2*c0|BL=0.4*c0|BR=0.3*c0' -c:a eac3 -b:a 192k " +
                            Quote(input_);
    if (test::RunCommand(cmd) != 0) GTEST_SKIP() << "ffmpeg cannot make E-AC-3";
  }
  std::filesystem::path dir_;
  std::filesystem::path input_;
};

TEST_F(TranscodeCommand, WritesAc3ThatFfmpegDecodes) {
  const auto out = dir_ / "out.ac3";
  ASSERT_EQ(Transcode(input_, out), 0);
  const Bytes in = test::ReadFile(input_);
  const auto frames_in = test::SplitFrames(in);
  // 768-byte input frames (192 kbit/s) become 1536-byte AC-3 frames.
  EXPECT_EQ(CountValidFrames(test::ReadFile(out), 1536), frames_in.size());
  std::string errors;
  EXPECT_EQ(test::RunCommand("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1", &errors), 0);
  EXPECT_EQ(errors, "");
}

// A damaged frame becomes silence of its length: the output keeps the
// input's time line.
TEST_F(TranscodeCommand, DamagedFramesKeepTheTimeLine) {
  Bytes in = test::ReadFile(input_);
  const auto frames = test::SplitFrames(in);
  ASSERT_GT(frames.size(), 4u);
  in[frames[2].offset + frames[2].length / 2] ^= 0x10;
  test::WriteFile(dir_ / "damaged.eac3", in);
  ASSERT_EQ(Transcode(dir_ / "damaged.eac3", dir_ / "damaged.ac3"), 0);
  EXPECT_EQ(CountValidFrames(test::ReadFile(dir_ / "damaged.ac3"), 1536), frames.size());
}

// A frame whose CRC verifies is a frame whatever follows it: zero padding
// after the last, stray bytes after one, a byte after every frame. The
// output is the clean stream's, frame for frame.
TEST_F(TranscodeCommand, AnIntactFrameCountsWhateverFollowsIt) {
  const Bytes in = test::ReadFile(input_);
  const auto frames = test::SplitFrames(in);
  ASSERT_GT(frames.size(), 20u);
  ASSERT_EQ(Transcode(input_, dir_ / "clean.ac3"), 0);
  const Bytes clean = test::ReadFile(dir_ / "clean.ac3");
  const auto with = [&](auto after_frame) {
    Bytes out;
    for (std::size_t k = 0; k < frames.size(); ++k) {
      const auto frame = in.begin() + static_cast<std::ptrdiff_t>(frames[k].offset);
      out.insert(out.end(), frame, frame + static_cast<std::ptrdiff_t>(frames[k].length));
      after_frame(k, out);
    }
    return out;
  };
  const std::size_t last = frames.size() - 1;
  const std::pair<const char*, Bytes> cases[] = {
      {"ten zero bytes at the end", with([&](std::size_t k, Bytes& b) { if (k == last) b.resize(b.size() + 10, 0); })},
      {"three stray bytes after frame 10",
       with([](std::size_t k, Bytes& b) { if (k == 10) b.insert(b.end(), {0x12, 0x34, 0x56}); })},
      {"a byte after every frame", with([](std::size_t, Bytes& b) { b.push_back(0); })},
  };
  for (const auto& [name, bytes] : cases) {
    test::WriteFile(dir_ / "odd.eac3", bytes);
    std::filesystem::remove(dir_ / "odd.ac3");
    EXPECT_EQ(Transcode(dir_ / "odd.eac3", dir_ / "odd.ac3"), 0) << name;
    EXPECT_EQ(test::ReadFile(dir_ / "odd.ac3"), clean) << name;
  }
}

TEST_F(TranscodeCommand, LeavesOutDependentSubstreams) {
  const Bytes in = test::ReadFile(input_);
  Bytes with_dependent;
  for (const test::FrameRef& f : test::SplitFrames(in)) {
    const auto frame = in.begin() + static_cast<std::ptrdiff_t>(f.offset);
    with_dependent.insert(with_dependent.end(), frame, frame + static_cast<std::ptrdiff_t>(f.length));
    Bytes dependent(frame, frame + static_cast<std::ptrdiff_t>(f.length));
    dependent[2] = static_cast<std::uint8_t>((dependent[2] & 0x3F) | 0x40);  // strmtyp 1
    test::RepairCrc(dependent, true);
    with_dependent.insert(with_dependent.end(), dependent.begin(), dependent.end());
  }
  test::WriteFile(dir_ / "dep.eac3", with_dependent);
  ASSERT_EQ(Transcode(input_, dir_ / "plain.ac3"), 0);
  ASSERT_EQ(Transcode(dir_ / "dep.eac3", dir_ / "dep.ac3"), 0);
  EXPECT_EQ(test::ReadFile(dir_ / "dep.ac3"), test::ReadFile(dir_ / "plain.ac3"));
}

TEST_F(TranscodeCommand, TakesTheFirstEac3TrackOfATransportStream) {
  const auto ts = dir_ / "in.ts";
  ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -v error -y -i " + Quote(input_) + " -c copy -f mpegts " + Quote(ts)), 0);
  ASSERT_EQ(Transcode(ts, dir_ / "from_ts.ac3"), 0);
  ASSERT_EQ(Transcode(input_, dir_ / "from_es.ac3"), 0);
  EXPECT_EQ(test::ReadFile(dir_ / "from_ts.ac3"), test::ReadFile(dir_ / "from_es.ac3"));
  EXPECT_NE(Transcode(dir_ / "missing.eac3", dir_ / "x.ac3"), 0);
}

}  // namespace
}  // namespace kelvor
