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
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "syncframe_stream.h"
#include "transcode/eac3_transcoder.h"

namespace {

using kelvor::bench::SyncframeStream;

const SyncframeStream& Stream() {
  static const SyncframeStream stream =
      kelvor::bench::LoadStream("kelvor_transcode_bench_5min_51.eac3", 300, "-c:a eac3 -b:a 384k -f eac3");
  return stream;
}

void BM_Kelvor_Transcode5MinEac3_51(benchmark::State& state) {
  const SyncframeStream& f = Stream();
  if (kelvor::bench::SkipWithoutStream(state, f)) return;
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
  kelvor::bench::CountRealtime(state, f);
}
BENCHMARK(BM_Kelvor_Transcode5MinEac3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Ffmpeg_DecodeEncode5MinEac3_51(benchmark::State& state) {
  kelvor::bench::TimeFfmpeg(state, Stream(), "-c:a ac3 -b:a 640k -f ac3 -y /dev/null");
}
BENCHMARK(BM_Ffmpeg_DecodeEncode5MinEac3_51)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
