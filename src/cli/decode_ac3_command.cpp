#include "cli/decode_ac3_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "ac3dec/decode_pipeline.h"
#include "ac3dec/syncframe.h"
#include "cli/audio_command_input.h"
#include "cli/exit_status.h"
#include "cli/file_checks.h"
#include "common/flags.h"
#include "io/file_names.h"

namespace kelvor::cli {
namespace {

constexpr const char* kUsage =
    "Usage: kelvor-cli decode-ac3 [--stats] INPUT OUTPUT.wav\n"
    "\n"
    "Decodes an AC-3 or E-AC-3 elementary stream, or the first private audio\n"
    "track of a transport stream (188- or 192-byte packets), with the decoder\n"
    "that converts audio to MPEG, and writes 48 kHz stereo WAV in 32-bit float.\n"
    "Samples above full scale are kept, not clipped. A frame the decoder\n"
    "rejects becomes silence of the same duration.\n"
    "\n"
    "  --stats     print frame counts and the coding tools the stream uses\n"
    "  -h, --help\n"
    "\n"
    "Exit status: 0 decoded, 1 the input could not be read (or is not a regular\n"
    "file) or held no frames, 2 bad command line or OUTPUT names INPUT, 3 stopped\n"
    "by Ctrl-C, SIGTERM or SIGHUP (the WAV holds what was decoded), 4 the output\n"
    "could not be written.\n";

// The samples go out in whole blocks of 1 MiB from one buffer, written with
// no stdio buffering in between: a few hundred large writes for an hour of
// sound, not one per frame.
class WavWriter {
 public:
  static constexpr std::size_t kBlockFloats = (1u << 20) / sizeof(float);

  explicit WavWriter(const std::string& path) : file_(OpenFile(path, "wb")), block_(kBlockFloats) {
    if (file_) ok_ = std::setvbuf(file_, nullptr, _IONBF, 0) == 0 && WriteHeader(0);
    if (!ok()) error_ = errno;
  }
  ~WavWriter() {
    if (file_) std::fclose(file_);
  }
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool ok() const { return file_ != nullptr && ok_; }
  // errno of the first failure.
  int error() const { return error_; }

  void Write(std::span<const Q24> left, std::span<const Q24> right) {
    for (std::size_t i = 0; i < left.size();) {
      const std::size_t n = std::min(left.size() - i, (block_.size() - fill_) / 2);
      float* out = block_.data() + fill_;
      for (std::size_t k = 0; k < n; ++k) {
        out[2 * k] = static_cast<float>(left[i + k]) / 16777216.0f;
        out[2 * k + 1] = static_cast<float>(right[i + k]) / 16777216.0f;
      }
      fill_ += 2 * n;
      i += n;
      if (fill_ == block_.size()) WriteBlock();
    }
    frames_ += left.size();
  }

  bool Finish() {
    WriteBlock();
    if (!ok()) return false;
    ok_ = std::fseek(file_, 0, SEEK_SET) == 0 && WriteHeader(frames_);
    if (!ok_) error_ = errno;
    const bool closed = std::fclose(file_) == 0;
    if (ok_ && !closed) error_ = errno;
    file_ = nullptr;
    return ok_ && closed;
  }

 private:
  // RIFF/WAVE with an IEEE float fmt chunk and the fact chunk float needs.
  bool WriteHeader(std::uint64_t frames) {
    const auto data_bytes = static_cast<std::uint32_t>(frames * 8);
    std::uint8_t h[58];
    std::size_t n = 0;
    const auto tag = [&](const char* s) { std::memcpy(h + n, s, 4); n += 4; };
    const auto u32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) h[n++] = static_cast<std::uint8_t>(v >> (8 * i)); };
    const auto u16 = [&](std::uint16_t v) { h[n++] = static_cast<std::uint8_t>(v); h[n++] = static_cast<std::uint8_t>(v >> 8); };
    tag("RIFF");
    u32(50 + data_bytes);
    tag("WAVE");
    tag("fmt ");
    u32(18);
    u16(3);              // IEEE float
    u16(2);              // channels
    u32(48000);          // sample rate
    u32(48000 * 8);      // bytes per second
    u16(8);              // block align
    u16(32);             // bits per sample
    u16(0);              // extension size
    tag("fact");
    u32(4);
    u32(static_cast<std::uint32_t>(frames));
    tag("data");
    u32(data_bytes);
    return std::fwrite(h, 1, n, file_) == n;
  }

  void WriteBlock() {
    if (ok_ && std::fwrite(block_.data(), sizeof(float), fill_, file_) != fill_) {
      ok_ = false;
      error_ = errno;
    }
    fill_ = 0;
  }

  std::FILE* file_;
  bool ok_ = false;
  int error_ = 0;
  std::uint64_t frames_ = 0;
  std::vector<float> block_;
  std::size_t fill_ = 0;  // floats waiting in block_
};

struct DecodeCounts {
  std::uint64_t decoded = 0;
  std::uint64_t rejected = 0;
  std::uint64_t skipped = 0;  // dependent or additional E-AC-3 substreams
};

void PrintStats(const DecodeCounts& counts, const Ac3ToolUsage& u) {
  const auto line = [](const char* name, std::uint64_t value) {
    std::printf("%-26s %llu\n", name, static_cast<unsigned long long>(value));
  };
  line("frames decoded", counts.decoded);
  line("frames rejected", counts.rejected);
  line("substream frames skipped", counts.skipped);
  line("AC-3 frames", u.ac3_frames);
  line("E-AC-3 frames", u.eac3_frames);
  line("E-AC-3 1-block frames", u.eac3_frames_by_blocks[1]);
  line("E-AC-3 2-block frames", u.eac3_frames_by_blocks[2]);
  line("E-AC-3 3-block frames", u.eac3_frames_by_blocks[3]);
  line("E-AC-3 6-block frames", u.eac3_frames_by_blocks[6]);
  line("blocks", u.blocks);
  line("short-block blocks", u.short_block_blocks);
  line("coupling blocks", u.coupling_blocks);
  line("phase-flag blocks", u.phase_flag_blocks);
  line("rematrixing blocks", u.rematrix_blocks);
  line("LFE blocks", u.lfe_blocks);
  line("dither blocks", u.dither_blocks);
  line("delta allocation blocks", u.delta_alloc_blocks);
  line("spectral extension blocks", u.spx_blocks);
  line("spx attenuation frames", u.spx_atten_frames);
  line("hybrid transform channels", u.aht_channel_frames);
  line("frame exp strategy frames", u.frame_exp_strategy_frames);
  line("frame SNR offset frames", u.frame_snr_offset_frames);
  for (std::size_t acmod = 0; acmod < u.acmod_frames.size(); ++acmod) {
    if (u.acmod_frames[acmod] == 0) continue;
    char name[48];
    std::snprintf(name, sizeof name, "acmod %zu frames", acmod);
    line(name, u.acmod_frames[acmod]);
  }
}

}  // namespace

int RunDecodeAc3Command(int argc, char** argv) {
  AudioCommandInput in;
  const auto wanted = [](std::span<const std::uint8_t> bytes) { return read_syncinfo(bytes).length != 0; };
  if (const auto status = OpenAudioCommandInput(argc, argv, kUsage, wanted, in)) return *status;

  WavWriter wav(in.outputPath);
  if (!wav.ok()) {
    PrintFileError("decode-ac3", in.outputPath, wav.error());
    return kExitOutputError;
  }
  auto decoder = std::make_unique<Ac3Decoder>();
  // This thread finds and parses the frames; the pipeline's worker runs the
  // transforms and writes the WAV.
  Ac3DecodePipeline pipeline(*decoder, 0, [&wav](std::span<const Q24> left, std::span<const Q24> right) {
    wav.Write(left, right);
  });
  DecodeCounts counts;
  const std::span<const std::uint8_t> all = in.stream;
  std::size_t pos = 0;
  // A stop still finishes the WAV: its header then gives the length of what
  // was written, so players take the sound decoded so far.
  while (pos + 6 <= all.size() && !abortRequested) {
    const SyncframeInfo info = read_syncinfo(all.subspan(pos));
    if (info.length == 0 || pos + info.length > all.size()) {
      ++pos;
      continue;
    }
    if (!info.independent) {
      ++counts.skipped;
      pos += info.length;
      continue;
    }
    const unsigned blocks = pipeline.decode(all.subspan(pos, info.length), info.eac3 ? 1 : 0);
    if (blocks != 0) {
      ++counts.decoded;
      pipeline.send(0);
    } else {
      // A damaged frame is followed by the next sync word (or the end);
      // anything else was a false sync inside data.
      const std::size_t next = pos + info.length;
      const bool at_end = next == all.size();
      const bool next_sync = sync_word_at(all, next);
      if (!next_sync && !at_end) {
        pipeline.send(0);
        ++pos;
        continue;
      }
      ++counts.rejected;
      pipeline.send(info.num_blocks);
    }
    pos += info.length;
  }
  pipeline.finish();
  if (!wav.Finish()) {
    PrintFileError("decode-ac3", in.outputPath, wav.error());
    return kExitOutputError;
  }
  if (in.file.cutShort()) {
    std::fprintf(stderr, "kelvor-cli decode-ac3: '%s': input error: the file became shorter while it was read\n",
                 in.inputPath.c_str());
    return kExitInputError;
  }
  if (in.stats) PrintStats(counts, decoder->tool_usage());
  if (abortRequested) {
    std::fprintf(stderr, "decode-ac3: stopped by the user\n");
    return kExitCutShort;
  }
  if (counts.decoded == 0) {
    std::fprintf(stderr, "decode-ac3: no AC-3 or E-AC-3 frames in '%s'\n", in.inputPath.c_str());
    return kExitInputError;
  }
  return kExitOk;
}

}  // namespace kelvor::cli
