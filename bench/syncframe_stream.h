#pragma once
// Shared by the AC-3 and E-AC-3 benchmarks: a 5.1 stream generated once with
// ffmpeg, split into its syncframes in memory, and ffmpeg's own run over the
// same file for the side-by-side figure.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ac3dec/syncframe.h"

namespace kelvor::bench {

// The stream goes to $KELVOR_BENCH_DIR, else the system's temporary directory.
inline std::filesystem::path BenchDir() {
  const char* dir = std::getenv("KELVOR_BENCH_DIR");
  return dir != nullptr ? std::filesystem::path(dir) : std::filesystem::temp_directory_path();
}

struct SyncframeStream {
  std::filesystem::path path;  // empty when ffmpeg could not make it
  double seconds = 0;
  std::vector<std::uint8_t> bytes;
  std::vector<std::pair<std::size_t, std::size_t>> frames;  // offset, length
};

// `seconds` of six different signals (pink noise and tones), so that every
// channel is coded, encoded with `encode` (ffmpeg's codec, bit rate and
// format options); made once as `name`, then split into its syncframes
// (bytes that start none are passed over).
inline SyncframeStream LoadStream(const std::string& name, int seconds, const std::string& encode) {
  namespace fs = std::filesystem;
  SyncframeStream f;
  f.seconds = seconds;
  const fs::path path = BenchDir() / name;
  if (!fs::exists(path)) {
    std::string inputs;
    const char* sources[] = {"anoisesrc=color=pink:seed=1:amplitude=0.3", "sine=frequency=440",
                             "anoisesrc=color=pink:seed=3:amplitude=0.3", "sine=frequency=50",
                             "anoisesrc=color=pink:seed=5:amplitude=0.2",
                             "anoisesrc=color=white:seed=6:amplitude=0.05"};
    for (const char* s : sources) {
      inputs += std::string(" -f lavfi -i ") + s + ":sample_rate=48000:duration=" + std::to_string(seconds);
    }
    const fs::path partial = path.string() + ".part";
    const std::string command = "ffmpeg -nostdin -v error -y" + inputs +
                                " -filter_complex '[0][1][2][3][4][5]amerge=inputs=6,aformat=channel_layouts=5.1(side)'"
                                " " + encode + " '" + partial.string() + "'";
    if (std::system(command.c_str()) != 0) return f;
    fs::rename(partial, path);
  }
  f.path = path;
  std::ifstream in(path, std::ios::binary);
  f.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  std::size_t pos = 0;
  while (pos + 6 <= f.bytes.size()) {
    const SyncframeInfo info = read_syncinfo(std::span(f.bytes).subspan(pos));
    if (info.length == 0 || pos + info.length > f.bytes.size()) {
      ++pos;
      continue;
    }
    f.frames.emplace_back(pos, info.length);
    pos += info.length;
  }
  return f;
}

// Marks the run failed when the stream could not be made; true then.
inline bool SkipWithoutStream(benchmark::State& state, const SyncframeStream& f) {
  if (!f.frames.empty()) return false;
  state.SkipWithError("could not make the test stream (is ffmpeg installed?)");
  return true;
}

// How many times faster than real time, for the whole stream an iteration.
inline void CountRealtime(benchmark::State& state, const SyncframeStream& f) {
  state.counters["x_realtime"] =
      benchmark::Counter(f.seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// ffmpeg reading the stream with `options` after it, timed as a whole process.
inline void TimeFfmpeg(benchmark::State& state, const SyncframeStream& f, const std::string& options) {
  if (SkipWithoutStream(state, f)) return;
  const std::string command = "ffmpeg -nostdin -v error -i '" + f.path.string() + "' " + options;
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
  }
  CountRealtime(state, f);
}

}  // namespace kelvor::bench
