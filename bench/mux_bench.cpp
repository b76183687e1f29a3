// Throughput of packetising plus the output writer, per output format, with
// the writer writing a real file; beside it, cp of a file of the same size
// in the same run, as the yardstick of what the disk and page cache give.
//
//   build/bench/bench/mux_bench [--benchmark_repetitions=3]
// Files go to $KELVOR_BENCH_DIR, else the system's temporary directory.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ui_port.h"
#include "io/output_writer.h"
#include "mux/multiplexer.h"

namespace {

namespace fs = std::filesystem;
using kelvor::OutputFormat;

constexpr std::size_t kVideoPerRun = 96u << 20;  // video bytes per iteration
constexpr std::size_t kVideoChunk = 184;         // one input TS payload
constexpr std::size_t kPictureSize = 40000;      // a PES packet per picture
constexpr std::size_t kMp2FrameSize = 1152;      // 384 kbit/s
constexpr std::size_t kAc3FrameSize = 1792;      // 448 kbit/s

fs::path BenchDir() {
  const char* dir = std::getenv("KELVOR_BENCH_DIR");
  return dir != nullptr ? fs::path(dir) : fs::temp_directory_path();
}

fs::path OutputPath(OutputFormat format) {
  return BenchDir() / ("kelvor_mux_bench." + std::to_string(static_cast<int>(format)));
}

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return v;
}

// One run as the conversion would make it: video arriving in TS-payload
// pieces, a PTS per picture, an MPEG audio and an AC-3 track interleaved by
// time (25 pictures/s; at ~5 MB/s of video the audio is a few per cent).
std::uint64_t MuxOnce(OutputFormat format, const fs::path& path) {
  // All tracks: MPEG audio PID 0x44 in slot 0, AC-3 PID 0x45 in slot 1.
  kelvor::RunSettings run;
  run.videoBitRate = 15000;
  run.firstPrivateTrack = 1;
  run.audioTrackTotal = 2;
  run.mpegOutCount = run.ac3OutCount = 1;
  run.outputs[0] = {0, 0, 0x44, kelvor::Codec::MpegAudio, false};
  run.outputs[1] = {1, 1, 0x45, kelvor::Codec::Ac3, true};
  run.outputCount = 2;
  static kelvor::NullUiPort ui;
  static kelvor::OutputWriter* writer = new kelvor::OutputWriter(ui);  // buffers allocated once
  static const auto video = Pattern(kPictureSize, 1);
  static const auto mp2 = Pattern(kMp2FrameSize, 2);
  static const auto ac3 = Pattern(kAc3FrameSize, 3);

  kelvor::Multiplexer mux(*writer, run);
  if (!writer->OpenOutput(path)) return 0;
  mux.ResetTiming();
  mux.BuildStreamHeaders(format);
  mux.StartTrack(0, 9000);
  mux.StartTrack(1, 9000);
  const bool ts = format != OutputFormat::ProgramStream;

  std::uint32_t pts = 9000;
  for (std::size_t done = 0; done < kVideoPerRun; done += kPictureSize, pts += 3600) {
    while (mux.TrackOutTime(0) < pts + 3600) mux.WriteMpegAudioFrame(0, mp2);
    while (mux.TrackOutTime(1) < pts + 3600) mux.WriteAc3Frame(0, ac3);
    if (ts) mux.EndVideoPes();
    if (!mux.VideoPtsPlaced()) mux.PlaceVideoPts(pts);
    for (std::size_t at = 0; at < kPictureSize; at += kVideoChunk) {
      mux.WriteVideoBytes(std::span(video).subspan(at, std::min(kVideoChunk, kPictureSize - at)));
    }
  }
  mux.FinishOutput(true);
  (void)writer->CloseOutput();
  return fs::file_size(path);
}

void BM_MuxToFile(benchmark::State& state) {
  const auto format = static_cast<OutputFormat>(state.range(0));
  const fs::path path = OutputPath(format);
  std::uint64_t bytes = 0;
  for (auto _ : state) bytes += MuxOnce(format, path);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
  state.counters["file_MiB"] = static_cast<double>(fs::file_size(path)) / (1 << 20);
  fs::remove(path);
}
BENCHMARK(BM_MuxToFile)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->ArgNames({"format"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// cp of a file as large as the TS output, timed the same way.
void BM_CpSameSize(benchmark::State& state) {
  const fs::path source = BenchDir() / "kelvor_mux_bench.cp-src";
  const fs::path target = BenchDir() / "kelvor_mux_bench.cp-dst";
  const std::uint64_t size = MuxOnce(OutputFormat::Ts, source);
  const std::string command = "cp '" + source.string() + "' '" + target.string() + "'";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(size * state.iterations()));
  fs::remove(source);
  fs::remove(target);
}
BENCHMARK(BM_CpSameSize)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
