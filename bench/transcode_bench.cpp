// Speed of the E-AC-3 to AC-3 transcoder beside ffmpeg's route to the same
// place (its E-AC-3 decoder and its AC-3 encoder at the bit rate of our
// frames), in one run, on a 5-minute 5.1 E-AC-3 stream at 384 kbit/s
// (generated once with ffmpeg): here every frame is transcoded in memory;
// ffmpeg runs as
//   ffmpeg -v error -i in.eac3 -c:a ac3 -b:a 640k -f ac3 -y /dev/null
// (its time includes process start and demuxing; the stream file is in the
// page cache for both after the first pass).
//
//   build/bench/bench/transcode_bench
// The stream goes to $KELVOR_BENCH_DIR, else the system's temporary directory.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ac3dec/syncframe.h"
#include "transcode/eac3_transcoder.h"

namespace {

namespace fs = std::filesystem;

constexpr double kStreamSeconds = 300.0;

fs::path BenchDir() {
  const char* dir = std::getenv("KELVOR_BENCH_DIR");
  return dir != nullptr ? fs::path(dir) : fs::temp_directory_path();
}

// Six different signals (pink noise and tones) so that every channel is coded.
fs::path Stream() {
  const fs::path path = BenchDir() / "kelvor_transcode_bench_5min_51.eac3";
  if (fs::exists(path)) return path;
  std::string inputs;
  const char* sources[] = {"anoisesrc=color=pink:seed=1:amplitude=0.3", "sine=frequency=440",
                           "anoisesrc=color=pink:seed=3:amplitude=0.3", "sine=frequency=50",
                           "anoisesrc=color=pink:seed=5:amplitude=0.2", "anoisesrc=color=white:seed=6:amplitude=0.05"};
  for (const char* s : sources) inputs += std::string(" -f lavfi -i ") + s + ":sample_rate=48000:duration=300";
  const fs::path partial = path.string() + ".part";
  const std::string command = "ffmpeg -nostdin -v error -y" + inputs +
                              " -filter_complex '[0][1][2][3][4][5]amerge=inputs=6,aformat=channel_layouts=5.1(side)'"
                              " -c:a eac3 -b:a 384k -f eac3 '" + partial.string() + "'";
  if (std::system(command.c_str()) != 0) return {};
  fs::rename(partial, path);
  return path;
}

struct Frames {
  std::vector<std::uint8_t> bytes;
  std::vector<std::pair<std::size_t, std::size_t>> frames;  // offset, length
};

const Frames& LoadFrames() {
  static const Frames frames = [] {
    Frames f;
    const fs::path path = Stream();
    if (path.empty()) return f;
    std::ifstream in(path, std::ios::binary);
    f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::size_t pos = 0;
    while (pos + 6 <= f.bytes.size()) {
      const kelvor::SyncframeInfo info = kelvor::read_syncinfo(std::span(f.bytes).subspan(pos));
      if (info.length == 0 || pos + info.length > f.bytes.size()) {
        ++pos;
        continue;
      }
      f.frames.emplace_back(pos, info.length);
      pos += info.length;
    }
    return f;
  }();
  return frames;
}

void BM_Kelvor_Transcode5MinEac3_51(benchmark::State& state) {
  const Frames& f = LoadFrames();
  if (f.frames.empty()) {
    state.SkipWithError("could not make the test stream (is ffmpeg installed?)");
    return;
  }
  auto transcoder = std::make_unique<kelvor::Eac3Transcoder>();
  std::array<std::uint8_t, kelvor::Eac3Transcoder::kMaxOutputBytes> out{};
  std::int64_t written = 0;
  for (auto _ : state) {
    transcoder->transcoder_reset();
    for (const auto& [offset, length] : f.frames) {
      std::size_t n = 0;
      if (transcoder->transcode_eac3_frame(0, std::span(f.bytes).subspan(offset, length), out, n)) written += 1;
    }
  }
  benchmark::DoNotOptimize(written);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(f.frames.size()));
  state.counters["x_realtime"] =
      benchmark::Counter(kStreamSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Kelvor_Transcode5MinEac3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Ffmpeg_DecodeEncode5MinEac3_51(benchmark::State& state) {
  if (LoadFrames().frames.empty()) {
    state.SkipWithError("could not make the test stream (is ffmpeg installed?)");
    return;
  }
  const std::string command =
      "ffmpeg -nostdin -v error -i '" + Stream().string() + "' -c:a ac3 -b:a 640k -f ac3 -y /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kStreamSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Ffmpeg_DecodeEncode5MinEac3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
