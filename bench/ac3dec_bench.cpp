// Decoding speed of the AC-3 decoder beside ffmpeg's float decoder, in one
// run, on a 10-minute 5.1 AC-3 stream at 448 kbit/s (generated once with
// ffmpeg): here every frame is decoded to stereo Q24 PCM in memory; ffmpeg
// runs as
//   ffmpeg -v error -i in.ac3 -f s32le /dev/null
// (its time includes process start, demuxing and sample conversion; the
// stream file is in the page cache for both after the first pass).
//
//   build/<dir>/bench/ac3dec_bench [--benchmark_repetitions=3]
// The stream goes to $KELVOR_BENCH_DIR, else the system's temporary directory.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "ac3dec/syncframe.h"

namespace {

namespace fs = std::filesystem;

constexpr double kStreamSeconds = 600.0;

fs::path BenchDir() {
  const char* dir = std::getenv("KELVOR_BENCH_DIR");
  return dir != nullptr ? fs::path(dir) : fs::temp_directory_path();
}

// Six different signals (pink noise and tones) so that every channel is coded.
fs::path Stream() {
  const fs::path path = BenchDir() / "kelvor_ac3dec_bench_10min_51.ac3";
  if (fs::exists(path)) return path;
  std::string inputs;
  const char* sources[] = {"anoisesrc=color=pink:seed=1:amplitude=0.3", "sine=frequency=440",
                           "anoisesrc=color=pink:seed=3:amplitude=0.3", "sine=frequency=50",
                           "anoisesrc=color=pink:seed=5:amplitude=0.2", "anoisesrc=color=white:seed=6:amplitude=0.05"};
  for (const char* s : sources) inputs += std::string(" -f lavfi -i ") + s + ":sample_rate=48000:duration=600";
  const fs::path partial = path.string() + ".part";
  const std::string command = "ffmpeg -nostdin -v error -y" + inputs +
                              " -filter_complex '[0][1][2][3][4][5]amerge=inputs=6,aformat=channel_layouts=5.1(side)'"
                              " -c:a ac3 -b:a 448k -f ac3 '" + partial.string() + "'";
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

// Decodes the first `count` frames in each iteration; the checksum takes
// every sample when asked, else one a frame.
std::int64_t DecodeFrames(benchmark::State& state, const Frames& f, std::size_t count, bool every_sample) {
  auto decoder = std::make_unique<kelvor::Ac3Decoder>();
  std::vector<kelvor::Q24> left(kelvor::Ac3Decoder::kMaxSamples);
  std::vector<kelvor::Q24> right(kelvor::Ac3Decoder::kMaxSamples);
  std::int64_t checksum = 0;
  for (auto _ : state) {
    decoder->ac3_decoder_init();
    for (std::size_t i = 0; i < count; ++i) {
      const auto [offset, length] = f.frames[i];
      checksum += decoder->ac3_decode_frame(0, std::span(f.bytes).subspan(offset, length), 0, left, right);
      if (!every_sample) {
        checksum += left[100];
        continue;
      }
      for (std::size_t n = 0; n < left.size(); ++n) checksum += left[n] ^ right[n];
    }
  }
  benchmark::DoNotOptimize(checksum);
  return checksum;
}

void BM_Kelvor_Decode10MinAc3_51(benchmark::State& state) {
  const Frames& f = LoadFrames();
  if (f.frames.empty()) {
    state.SkipWithError("could not make the test stream (is ffmpeg installed?)");
    return;
  }
  DecodeFrames(state, f, f.frames.size(), false);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(f.frames.size()));
  state.counters["x_realtime"] =
      benchmark::Counter(kStreamSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Kelvor_Decode10MinAc3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The first minute alone, once: short enough to run under callgrind
// (valgrind --tool=callgrind --toggle-collect='*ac3_decode_frame*'
//  ac3dec_bench --benchmark_filter=Profile) for instruction counts; its
// checksum covers every sample, so that a change can show it decodes the same.
void BM_Kelvor_Profile1MinAc3_51(benchmark::State& state) {
  const Frames& f = LoadFrames();
  if (f.frames.empty()) {
    state.SkipWithError("could not make the test stream (is ffmpeg installed?)");
    return;
  }
  state.counters["checksum"] = static_cast<double>(DecodeFrames(state, f, f.frames.size() / 10, true));
}
BENCHMARK(BM_Kelvor_Profile1MinAc3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Ffmpeg_Decode10MinAc3_51(benchmark::State& state) {
  if (LoadFrames().frames.empty()) {
    state.SkipWithError("could not make the test stream (is ffmpeg installed?)");
    return;
  }
  const std::string command = "ffmpeg -nostdin -v error -i '" + Stream().string() + "' -f s32le -y /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kStreamSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Ffmpeg_Decode10MinAc3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
