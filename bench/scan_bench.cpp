// How long the scan of a big recording takes and how much of it is read.
// The input is a generated stream repeated into a temporary file of 1 GiB
// or more; the scan must stop after 10 MiB once it has probed audio and
// video, and after 100 MiB in any case.
//
//   build/bench/bench/scan_bench [--benchmark_repetitions=3]
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/flags.h"
#include "io/input_view.h"
#include "scan/scan_pass.h"

namespace {

namespace fs = std::filesystem;
constexpr std::uint64_t kTargetSize = 1ull << 30;

std::vector<char> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Keeps only the packets whose PID is not an audio one (video and PSI), so
// that no audio probe ever succeeds and the scan runs to its 100 MiB limit.
std::vector<char> WithoutAudio(const std::vector<char>& ts, unsigned videoPid) {
  std::vector<char> out;
  for (std::size_t i = 0; i + 188 <= ts.size(); i += 188) {
    const auto* p = reinterpret_cast<const unsigned char*>(ts.data() + i);
    const unsigned pid = ((p[1] & 0x1Fu) << 8) | p[2];
    if (pid == videoPid || pid < 0x20 || pid == 0x1000) out.insert(out.end(), ts.data() + i, ts.data() + i + 188);
  }
  return out;
}

fs::path MakeBigFile(const std::vector<char>& unit, const char* name) {
  const fs::path path = fs::temp_directory_path() / name;
  if (fs::exists(path) && fs::file_size(path) >= kTargetSize) return path;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::uint64_t written = 0; written < kTargetSize; written += unit.size()) {
    out.write(unit.data(), static_cast<std::streamsize>(unit.size()));
  }
  return path;
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

void RunScan(benchmark::State& state, const fs::path& path) {
  kelvor::NullUiPort ui;
  kelvor::InputView input(ui);
  kelvor::TrackTable tracks;
  kelvor::H264IdrState idr;
  kelvor::ScanPass scan(input, tracks, idr, ui);
  input.setPath(path.string());
  std::uint64_t scanned = 0;
  std::uint64_t mapped = 0;
  long faults = 0;
  for (auto _ : state) {
    kelvor::abortRequested = false;
    const long before = MinorFaults();
    scan.run();
    faults = MinorFaults() - before;
    scanned = scan.summary().bytesScanned;
    mapped = input.mappedEnd();
  }
  state.counters["file_MiB"] = static_cast<double>(fs::file_size(path)) / (1 << 20);
  state.counters["scanned_MiB"] = static_cast<double>(scanned) / (1 << 20);
  // The furthest byte of the file the scan had mapped: nothing beyond it
  // was touched.
  state.counters["mapped_MiB"] = static_cast<double>(mapped) / (1 << 20);
  state.counters["page_faults"] = static_cast<double>(faults);
  state.counters["video_found"] = scan.summary().videoFound ? 1 : 0;
  state.SetBytesProcessed(static_cast<std::int64_t>(scanned) * state.iterations());
}

const fs::path& Source() {
  static const fs::path path = fs::path(KELVOR_FIXTURE_DIR) / "mpeg2_mp2_ac3.ts";
  return path;
}

void BM_ScanFullStream(benchmark::State& state) {
  if (!fs::exists(Source())) {
    state.SkipWithError("generate the test streams first (ctest -R make_fixtures)");
    return;
  }
  RunScan(state, MakeBigFile(ReadAll(Source()), "kelvor-scan-bench-full.ts"));
}

void BM_ScanStreamWithoutAudio(benchmark::State& state) {
  if (!fs::exists(Source())) {
    state.SkipWithError("generate the test streams first (ctest -R make_fixtures)");
    return;
  }
  RunScan(state, MakeBigFile(WithoutAudio(ReadAll(Source()), 0x100), "kelvor-scan-bench-noaudio.ts"));
}

BENCHMARK(BM_ScanFullStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanStreamWithoutAudio)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
