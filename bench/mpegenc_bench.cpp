// Encoding speed of the MPEG audio encoder alone, frame by frame in memory:
// stereo pink noise under two tones (the allocation works hardest on noise),
// one 1152-sample frame per iteration. bench/mp2_speed.sh compares the whole
// command with twolame and ffmpeg.
//
//   build/<dir>/bench/mpegenc_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "mpegenc/mpeg_audio_encoder.h"

namespace {

using kelvor::Q24;
using namespace kelvor::mpegenc;

struct NullSink final : MpegFrameSink {
  bool WriteMpegAudioFrame(std::uint32_t, std::span<const std::uint8_t> frame) override {
    benchmark::DoNotOptimize(frame.data());
    return true;
  }
};

std::vector<Q24> Signal(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> white(0.0, 1.0);
  std::vector<Q24> v(n);
  double b0 = 0, b1 = 0, b2 = 0;  // a simple pinking filter
  for (std::size_t i = 0; i < n; ++i) {
    const double w = white(rng);
    b0 = 0.99765 * b0 + w * 0.0990460;
    b1 = 0.96300 * b1 + w * 0.2965164;
    b2 = 0.57000 * b2 + w * 1.0526913;
    const double t = static_cast<double>(i) / 48000.0;
    const double x = 0.05 * (b0 + b1 + b2 + w * 0.1848) + 0.2 * std::sin(2 * M_PI * 440 * t) + 0.1 * std::sin(2 * M_PI * 2500 * t);
    v[i] = static_cast<Q24>(std::lround(std::clamp(x, -1.0, 1.0) * 16777216.0));
  }
  return v;
}

void BM_EncodeFrame(benchmark::State& state) {
  constexpr std::size_t kFrames = 200;
  const auto left = Signal(kFrames * 1152, 1);
  const auto right = Signal(kFrames * 1152, 2);
  NullSink sink;
  auto encoder = std::make_unique<MpegAudioEncoder>(sink);
  std::size_t frame = 0;
  for (auto _ : state) {
    const std::size_t at = (frame++ % kFrames) * 1152;
    (void)encoder->EncodeSamples(0, std::span(left).subspan(at, 1152), std::span(right).subspan(at, 1152), 1152);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.024, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeFrame);

}  // namespace

BENCHMARK_MAIN();
