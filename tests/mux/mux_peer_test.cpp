// A real peer reads what the multiplexer writes: elementary streams made by
// ffmpeg go through the packet writers and the output writer into MPG, TS
// and M2TS files, which ffprobe and ffmpeg must read without complaint.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "io/output_writer.h"
#include "mux/mux_test_support.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Access units of an MPEG-2 video ES: each starts at the sequence, GOP or
// picture header that precedes a picture.
std::vector<std::span<const std::uint8_t>> SplitPictures(const Bytes& es) {
  std::vector<std::span<const std::uint8_t>> units;
  std::size_t start = 0;
  bool sawPicture = false;
  for (std::size_t n = 0; n + 3 < es.size(); ++n) {
    if (es[n] != 0 || es[n + 1] != 0 || es[n + 2] != 1) continue;
    const std::uint8_t code = es[n + 3];
    if (code != 0xB3 && code != 0xB8 && code != 0x00) continue;
    if (sawPicture) {
      units.emplace_back(es.data() + start, n - start);
      start = n;
      sawPicture = false;
    }
    if (code == 0x00) sawPicture = true;
  }
  units.emplace_back(es.data() + start, es.size() - start);
  return units;
}

// Constant-bit-rate audio: every frame as long as the first.
std::vector<std::span<const std::uint8_t>> SplitFrames(const Bytes& es, std::size_t frameSize) {
  std::vector<std::span<const std::uint8_t>> frames;
  for (std::size_t at = 0; at + frameSize <= es.size(); at += frameSize) {
    frames.emplace_back(es.data() + at, frameSize);
  }
  return frames;
}

std::size_t Mp2FrameSize(const Bytes& es) {
  static constexpr std::uint16_t kLayer2At48k[15] = {0,   96,  144, 168, 192, 240, 288, 336,
                                                     384, 480, 576, 672, 768, 960, 1152};
  return kLayer2At48k[es.at(2) >> 4];
}

std::size_t Ac3FrameSize(const Bytes& es) {
  static constexpr std::uint16_t kWordsAt48k[19] = {64,  80,  96,   112,  128, 160, 192,
                                                    224, 256, 320,  384,  448, 512, 640,
                                                    768, 896, 1024, 1152, 1280};
  return 2u * kWordsAt48k[(es.at(4) & 0x3F) >> 1];
}

struct PeerStreams {
  Bytes video = test::ReadFile(test::Fixture("mux_video.m2v"));
  Bytes mp2 = test::ReadFile(test::Fixture("mux_audio.mp2"));
  Bytes ac3 = test::ReadFile(test::Fixture("mux_audio.ac3"));
  bool present() const { return !video.empty() && !mp2.empty() && !ac3.empty(); }
};

struct Counts {
  std::size_t pictures = 0, mp2Frames = 0, ac3Frames = 0;
};

// Packs the three streams on a simple time line: 25 pictures per second from
// 100 ms on, audio frames interleaved by time from 100 ms on.
Counts WriteFile(const PeerStreams& in, OutputFormat format, const fs::path& path) {
  TrackTable tracks;
  tracks.videoBitRate = 2500;  // 1 Mbit/s in units of 400 bit/s
  test::AddMpegTrack(tracks, 0x44, "deu");
  test::AddPrivateTrack(tracks, 0x45, "eng");
  RunSettings run;
  ConfigureRun(run, tracks, false);

  NullUiPort ui;
  OutputWriter writer(ui);
  Multiplexer mux(writer, run);
  EXPECT_TRUE(writer.OpenOutput(test::PathText(path)));
  mux.ResetTiming();
  mux.BuildStreamHeaders(format);
  mux.StartTrack(0, 9000);
  mux.StartTrack(1, 9000);

  const auto pictures = SplitPictures(in.video);
  const auto mp2 = SplitFrames(in.mp2, Mp2FrameSize(in.mp2));
  const auto ac3 = SplitFrames(in.ac3, Ac3FrameSize(in.ac3));
  std::size_t nextMp2 = 0, nextAc3 = 0;
  auto audioUpTo = [&](std::uint32_t time) {
    while (nextMp2 < mp2.size() && mux.TrackOutTime(0) < time) {
      EXPECT_TRUE(mux.WriteMpegAudioFrame(0, mp2[nextMp2++]));
    }
    while (nextAc3 < ac3.size() && mux.TrackOutTime(1) < time) {
      EXPECT_TRUE(mux.WriteAc3Frame(0, ac3[nextAc3++]));
    }
  };

  const bool ts = format != OutputFormat::ProgramStream;
  for (std::size_t n = 0; n < pictures.size(); ++n) {
    const auto pts = static_cast<std::uint32_t>(9000 + n * 3600);
    audioUpTo(pts + 3600);
    if (ts && n > 0) {
      EXPECT_TRUE(mux.EndVideoPes());
    }
    if (!mux.VideoPtsPlaced()) {
      EXPECT_TRUE(mux.PlaceVideoPts(pts));
    }
    EXPECT_TRUE(mux.WriteVideoBytes(pictures[n]));
  }
  audioUpTo(0xFFFFFFFF);
  EXPECT_TRUE(mux.FinishOutput(true));
  EXPECT_TRUE(writer.CloseOutput());
  return {pictures.size(), nextMp2, nextAc3};
}

std::string Output(const std::string& command) {
  std::string out;
  test::RunCommand(command + " 2>&1", &out);
  return out;
}

TEST(MuxPeer, FfprobeAndFfmpegReadAllThreeFormats) {
  const PeerStreams in;
  if (!in.present()) GTEST_SKIP() << "generated streams missing (tests/fixtures/gen_mux.sh)";
  const fs::path dir = test::TempDir();
  const struct {
    OutputFormat format;
    const char* name;
  } cases[] = {{OutputFormat::ProgramStream, "out.mpg"},
               {OutputFormat::Ts, "out.ts"},
               {OutputFormat::M2ts, "out.m2ts"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path path = dir / c.name;
    const Counts written = WriteFile(in, c.format, path);
    EXPECT_EQ(fs::file_size(path) % 512, 0u);

    const std::string streams = Output(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_name,nb_read_frames:stream_tags=language -of csv=p=0 '" +
        path.string() + "'");
    const bool ps = c.format == OutputFormat::ProgramStream;
    // Program stream demuxers take no languages from the stream map.
    const std::string deu = ps ? "" : ",deu";
    const std::string eng = ps ? "" : ",eng";
    EXPECT_NE(streams.find("mpeg2video," + std::to_string(written.pictures)), std::string::npos)
        << streams;
    EXPECT_NE(streams.find("mp2," + std::to_string(written.mp2Frames) + deu + "\n"),
              std::string::npos)
        << streams;
    EXPECT_NE(streams.find("ac3," + std::to_string(written.ac3Frames) + eng + "\n"),
              std::string::npos)
        << streams;

    EXPECT_EQ(Output("ffmpeg -nostdin -v error -i '" + path.string() + "' -f null -"), "");
  }
  if (std::getenv("KELVOR_KEEP") == nullptr) fs::remove_all(dir);
}

}  // namespace
}  // namespace kelvor
