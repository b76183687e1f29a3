// libFuzzer target for a whole run: the scan, then the conversion driver
// with the video handler, the audio assemblers and the multiplexer behind
// it, through the Engine as a front end drives it.
//
// Input: one control byte, then a transport stream. Control bits 0-1: the
// output format (PS, TS, M2TS; 3 is PS); bit 2: the last row of the scan's
// track list is chosen instead of the first (which is "all tracks" when
// there are several); bit 3: AC-3 is converted to MPEG audio (refused
// while the engine has no such converter). As on the command line, nothing is converted when the
// scan lists no track. The stream is put in a memory file (the input view
// maps a file); the output goes to /dev/null, so nothing is written to disk.
// Every input gets a fresh Engine: nothing is kept from one input to the next.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "common/ui_port.h"
#include "convert/conversion_pass.h"
#include "convert/engine.h"
#include "mux/mux_layout.h"
#include "scan/track_table.h"

namespace {

int MemoryFile() {
  static const int fd = [] {
    const int f = ::memfd_create("kelvor-fuzz-input", 0);
    if (f < 0) std::abort();
    return f;
  }();
  return fd;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(fd, 0) != 0) return false;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const int fd = MemoryFile();
  if (!WriteAll(fd, data + 1, size - 1)) std::abort();

  kelvor::NullUiPort ui;
  const auto engine = std::make_unique<kelvor::Engine>(ui);
  engine->setInputPath("/proc/self/fd/" + std::to_string(fd));
  engine->runScan();

  // As the command line does: no conversion without a listed track.
  const kelvor::ScanSummary& scan = engine->scanSummary();
  kelvor::TrackTable& tracks = engine->tracks();
  if (!scan.inputOpened || scan.inputError || tracks.trackChoiceCount == 0) return 0;
  // The first row is "All audio tracks" when there are several; the last is one track.
  const std::uint32_t row = (control & 4u) ? tracks.trackChoiceCount - 1 : 0;
  const std::uint32_t pid = tracks.trackChoices[std::min<std::uint32_t>(row, kelvor::kMaxTrackChoices - 1)].pid;
  tracks.selectedAudioPid = pid;
  const kelvor::Track* track = tracks.audioTrack(pid);
  tracks.selectedIsPrivate = track != nullptr && kelvor::IsAc3Family(track->codec);
  kelvor::ConversionRequest request;
  request.outputPath = "/dev/null";
  request.convertAc3ToMpeg = (control & 8u) != 0;
  const unsigned formatBits = control & 3u;
  request.format = formatBits == 1 ? kelvor::OutputFormat::Ts
                   : formatBits == 2 ? kelvor::OutputFormat::M2ts
                                     : kelvor::OutputFormat::ProgramStream;
  const kelvor::ConversionOutcome outcome = engine->runConversion(request);
  if (outcome.outputError) std::abort();  // /dev/null takes everything
  return 0;
}
