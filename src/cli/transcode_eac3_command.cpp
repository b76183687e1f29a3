#include "cli/transcode_eac3_command.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ac3dec/crc16.h"
#include "ac3dec/syncframe.h"
#include "cli/audio_command_input.h"
#include "cli/exit_status.h"
#include "cli/file_checks.h"
#include "common/flags.h"
#include "io/file_names.h"
#include "transcode/eac3_transcoder.h"
#include "transcode/transcode_pipeline.h"

namespace kelvor::cli {
namespace {

constexpr const char* kUsage =
    "Usage: kelvor-cli transcode-eac3 [--stats] INPUT OUTPUT.ac3\n"
    "\n"
    "Rewrites an E-AC-3 elementary stream, or the first E-AC-3 track of a\n"
    "transport stream (188- or 192-byte packets), as an AC-3 elementary stream,\n"
    "in the frequency domain, with the transcoder that conversions use. Each\n"
    "AC-3 frame carries six input blocks at twice the input's byte rate (at\n"
    "most 640 kbit/s). Dependent substreams are left out; a damaged frame\n"
    "becomes silence of the same length.\n"
    "\n"
    "  --stats     print frame counts\n"
    "  -h, --help\n"
    "\n"
    "Exit status: 0 written, 1 the input could not be read or held no E-AC-3\n"
    "frames, 2 bad command line or OUTPUT names INPUT, 3 stopped by Ctrl-C,\n"
    "SIGTERM or SIGHUP (the output holds the frames transcoded so far), 4 the\n"
    "output could not be written.\n";

struct Counts {
  std::uint64_t frames = 0;     // independent E-AC-3 frames handed to the transcoder
  std::uint64_t rejected = 0;
  std::uint64_t skipped = 0;    // dependent substreams and other frame kinds
  std::uint64_t written = 0;    // AC-3 frames
  std::uint64_t blocks_in = 0;  // blocks of the frames handed over
  std::uint64_t silent_blocks = 0;  // stored as silence in place of rejected frames
};

}  // namespace

int RunTranscodeEac3Command(int argc, char** argv) {
  AudioCommandInput in;
  const auto wanted = [](std::span<const std::uint8_t> bytes) {
    const SyncframeInfo info = read_syncinfo(bytes);
    return info.length != 0 && info.eac3;
  };
  if (const auto status = OpenAudioCommandInput(argc, argv, kUsage, wanted, in)) return *status;
  const std::span<const std::uint8_t> es = in.stream;

  std::FILE* out = OpenFile(in.outputPath, "wb");
  if (!out) {
    PrintFileError("transcode-eac3", in.outputPath, errno);
    return kExitOutputError;
  }
  auto transcoder = std::make_unique<Eac3Transcoder>();
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> frame{};
  Counts counts;
  int write_error = 0;  // errno of the first failed write (on the worker)
  const auto write = [&](std::size_t n) {
    if (write_error == 0 && std::fwrite(frame.data(), 1, n, out) != n) write_error = errno != 0 ? errno : EIO;
  };
  // Stores, encodes and writes on the pipeline's worker, frame by frame in
  // stream order; `num_blocks` is the frame's block count.
  const auto store = [&](const transcode::DecodedFrame& decoded, unsigned num_blocks) {
    std::size_t out_bytes = 0;
    const unsigned before = transcoder->stored_blocks(0);
    if (transcoder->store_decoded_frame(0, decoded, frame, out_bytes)) {
      ++counts.written;
      write(out_bytes);
      return;
    }
    // Blocks that came to nothing: the frame's own when it was rejected
    // (the store is as before), six when a completed set did not fit.
    const unsigned after = transcoder->stored_blocks(0);
    const bool stored = !(before + num_blocks >= 6) && after == before + num_blocks;
    unsigned lost = 0;
    if (!stored) lost = after == before ? num_blocks : 6;
    if (lost == num_blocks) ++counts.rejected;
    // Silence in their place keeps the time line of the output.
    counts.silent_blocks += lost;
    if (lost != 0 && transcoder->transcode_silent_blocks(0, lost, frame, out_bytes)) {
      ++counts.written;
      write(out_bytes);
    }
  };
  Eac3TranscodePipeline pipeline(*transcoder, store);
  std::size_t pos = 0;
  // A stop ends the output after the frames handed over so far: whole AC-3
  // frames, flushed and closed.
  while (pos + 6 <= es.size() && !abortRequested) {
    const SyncframeInfo info = read_syncinfo(es.subspan(pos));
    if (info.length == 0 || pos + info.length > es.size()) {
      ++pos;
      continue;
    }
    // A frame is taken when its CRC verifies, whatever follows it (padding,
    // stray bytes), or when the next sync word (or the end) follows it: a
    // sync word inside data then does not cost the frame around it, and a
    // damaged frame in its place is stored as silence.
    const std::size_t next = pos + info.length;
    const bool framed = next == es.size() || sync_word_at(es, next) ||
                        (info.length > 2 && ac3_crc16(es.subspan(pos + 2, info.length - 2)) == 0);
    if (!framed) {
      ++pos;
      continue;
    }
    if (!info.eac3 || !info.independent) {
      ++counts.skipped;
      pos = next;
      continue;
    }
    ++counts.frames;
    counts.blocks_in += info.num_blocks;
    pipeline.push(es.subspan(pos, info.length), info.num_blocks);
    pos = next;
  }
  pipeline.finish();
  if (std::fclose(out) != 0 && write_error == 0) write_error = errno;
  if (write_error != 0) {
    PrintFileError("transcode-eac3", in.outputPath, write_error);
    return kExitOutputError;
  }
  // Zeros read past a new end are not the input: say so, as decode-ac3 does.
  if (in.file.cutShort()) {
    std::fprintf(stderr, "kelvor-cli transcode-eac3: '%s': input error: the file became shorter while it was read\n",
                 in.inputPath.c_str());
    return kExitInputError;
  }
  if (in.stats) {
    const auto line = [](const char* name, std::uint64_t value) {
      std::printf("%-26s %llu\n", name, static_cast<unsigned long long>(value));
    };
    line("E-AC-3 frames", counts.frames);
    line("frames rejected", counts.rejected);
    line("other frames skipped", counts.skipped);
    line("input blocks", counts.blocks_in);
    line("silent blocks", counts.silent_blocks);
    line("AC-3 frames written", counts.written);
  }
  if (abortRequested) {
    std::fprintf(stderr, "transcode-eac3: stopped by the user\n");
    return kExitCutShort;
  }
  if (counts.frames == 0) {
    std::fprintf(stderr, "transcode-eac3: no E-AC-3 frames in '%s'\n", in.inputPath.c_str());
    return kExitInputError;
  }
  return kExitOk;
}

}  // namespace kelvor::cli
