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

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "syncframe_stream.h"

namespace {

using kelvor::bench::SyncframeStream;

const SyncframeStream& Stream() {
  static const SyncframeStream stream =
      kelvor::bench::LoadStream("kelvor_ac3dec_bench_10min_51.ac3", 600, "-c:a ac3 -b:a 448k -f ac3");
  return stream;
}

// Decodes the first `count` frames in each iteration; the checksum takes
// every sample when asked, else one a frame.
std::int64_t DecodeFrames(benchmark::State& state, const SyncframeStream& f, std::size_t count, bool every_sample) {
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
  const SyncframeStream& f = Stream();
  if (kelvor::bench::SkipWithoutStream(state, f)) return;
  DecodeFrames(state, f, f.frames.size(), false);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(f.frames.size()));
  kelvor::bench::CountRealtime(state, f);
}
BENCHMARK(BM_Kelvor_Decode10MinAc3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The first minute alone, once: short enough to run under callgrind
// (valgrind --tool=callgrind --toggle-collect='*ac3_decode_frame*'
//  ac3dec_bench --benchmark_filter=Profile) for instruction counts; its
// checksum covers every sample, so that a change can show it decodes the same.
void BM_Kelvor_Profile1MinAc3_51(benchmark::State& state) {
  const SyncframeStream& f = Stream();
  if (kelvor::bench::SkipWithoutStream(state, f)) return;
  state.counters["checksum"] = static_cast<double>(DecodeFrames(state, f, f.frames.size() / 10, true));
}
BENCHMARK(BM_Kelvor_Profile1MinAc3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_Ffmpeg_Decode10MinAc3_51(benchmark::State& state) {
  kelvor::bench::TimeFfmpeg(state, Stream(), "-f s32le -y /dev/null");
}
BENCHMARK(BM_Ffmpeg_Decode10MinAc3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
