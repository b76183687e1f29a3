#include "cli/encode_mp2_command.h"

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/exit_status.h"
#include "cli/file_checks.h"
#include "common/flags.h"
#include "io/file_identity.h"
#include "mpegenc/mpeg_audio_encoder.h"
#include "mpegenc/stream_format.h"

namespace kelvor::cli {
namespace {

constexpr const char* kUsage =
    "Usage: kelvor-cli encode-mp2 [-b KBPS] INPUT.wav OUTPUT.mp2\n"
    "\n"
    "Encodes 32, 44.1 or 48 kHz mono or stereo WAV (16-, 24- or 32-bit\n"
    "integer or 32-bit float) as MPEG-1 Layer II at the input's sample rate\n"
    "and channels, with the encoder that converts AC-3 audio to MPEG. The\n"
    "last frame is completed with silence. Float samples beyond full scale\n"
    "are clipped.\n"
    "\n"
    "  -b KBPS     bit rate in kbit/s: 64, 96, 112, 128, 160, 192, 224, 256,\n"
    "              320 or 384 for stereo (default 384); 32, 48, 56, 64, 80,\n"
    "              96, 112, 128, 160 or 192 for mono (default 192)\n"
    "  -h, --help\n"
    "\n"
    "Exit status: 0 encoded, 1 the input could not be read or is not WAV of\n"
    "those rates and channels, 2 bad command line (a bit rate the channels do\n"
    "not take included) or OUTPUT names INPUT, 3 stopped by Ctrl-C, SIGTERM\n"
    "or SIGHUP, or the WAV became shorter while it was read (the output holds\n"
    "the frames encoded so far, the last completed with silence), 4 the\n"
    "output could not be written. INPUT '-' is standard input.\n";

using mpegenc::MpegAudioEncoder;
using mpegenc::MpegFrameSink;

constexpr std::size_t kChunk = 4608;  // sample frames read at a time

struct SndFileCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, SndFileCloser>;

// libsndfile gives every format as 32-bit integers with full scale 2^31
// (float samples clipped there); Q24 keeps the top 25 bits, rounded.
Q24 ToQ24(std::int32_t v) { return (v >> 7) + ((v >> 6) & 1); }

std::string CheckFormat(const SF_INFO& info, const std::string& name) {
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const int sub = info.format & SF_FORMAT_SUBMASK;
  const bool wav = major == SF_FORMAT_WAV || major == SF_FORMAT_WAVEX || major == SF_FORMAT_RF64;
  const bool samples = sub == SF_FORMAT_PCM_16 || sub == SF_FORMAT_PCM_24 || sub == SF_FORMAT_PCM_32 || sub == SF_FORMAT_FLOAT;
  if (!wav || !samples) {
    return "'" + name + "' is not WAV audio of 16-, 24- or 32-bit integer or 32-bit float samples";
  }
  if (info.samplerate != 32000 && info.samplerate != 44100 && info.samplerate != 48000) {
    return "'" + name + "' has a sample rate of " + std::to_string(info.samplerate) +
           " Hz; only 32000, 44100 and 48000 Hz can be encoded";
  }
  if (info.channels != 1 && info.channels != 2) {
    return "'" + name + "' has " + std::to_string(info.channels) + " channels; only mono and stereo can be encoded";
  }
  return {};
}

// The stream for the input; kbps 0 takes the highest rate of its channels.
mpegenc::StreamFormat FormatOf(const SF_INFO& info, int kbps) {
  return {info.samplerate, kbps != 0 ? kbps : info.channels == 1 ? 192 : 384, info.channels};
}

WavEncodeResult Encode(SNDFILE* file, const SF_INFO& info, const std::string& name, int kbps, MpegFrameSink& sink) {
  WavEncodeResult result;
  result.error = CheckFormat(info, name);
  if (!result.error.empty()) return result;
  const mpegenc::StreamFormat format = FormatOf(info, kbps);
  result.error = mpegenc::CheckStreamFormat(format);
  if (!result.error.empty()) return result;
  const bool mono = format.channels == 1;

  struct CountingSink final : MpegFrameSink {
    explicit CountingSink(MpegFrameSink& s) : inner(s) {}
    bool WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame) override {
      ++frames;
      return inner.WriteMpegAudioFrame(track, frame);
    }
    MpegFrameSink& inner;
    std::uint64_t frames = 0;
  } counting(sink);

  auto encoder = std::make_unique<MpegAudioEncoder>(counting, 0, format);
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  std::vector<std::int32_t> interleaved(kChunk * 2);
  std::vector<Q24> left(kChunk);
  std::vector<Q24> right(kChunk);
  for (;;) {
    if (abortRequested.load(std::memory_order_relaxed)) {
      result.stopped = true;  // what was read is encoded and completed below
      break;
    }
    const sf_count_t got = sf_readf_int(file, interleaved.data(), static_cast<sf_count_t>(kChunk));
    if (got <= 0) break;
    const auto n = static_cast<std::size_t>(got);
    if (mono) {
      for (std::size_t i = 0; i < n; ++i) left[i] = ToQ24(interleaved[i]);
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        left[i] = ToQ24(interleaved[2 * i]);
        right[i] = ToQ24(interleaved[2 * i + 1]);
      }
    }
    result.samples += n;
    if (!encoder->EncodeSamples(0, left, right, n)) {
      result.error = "the output refused a frame";
      return result;
    }
  }
  if (sf_error(file) != SF_ERR_NO_ERROR) {
    result.error = "cannot read '" + name + "': " + sf_strerror(file);
    return result;
  }
  // A file that can be measured held info.frames samples when it was
  // opened; fewer read means it became shorter (a stream's length is not known).
  result.cutShort = !result.stopped && info.seekable != 0 && result.samples < static_cast<std::uint64_t>(info.frames);
  if (result.samples == 0 && !result.stopped) {
    result.error = "'" + name + "' holds no audio samples";
    return result;
  }
  // Silence until every input sample has passed the filterbank and the last
  // frame is complete.
  const std::uint64_t needed = result.samples + mpegenc::kCodecDelay;
  std::uint64_t pad = (needed + mpegenc::kFrameSamples - 1) / mpegenc::kFrameSamples * mpegenc::kFrameSamples - result.samples;
  std::fill(left.begin(), left.end(), 0);
  std::fill(right.begin(), right.end(), 0);
  while (pad > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(pad, kChunk));
    if (!encoder->EncodeSamples(0, left, right, n)) {
      result.error = "the output refused a frame";
      return result;
    }
    pad -= n;
  }
  result.frames = counting.frames;
  result.ok = true;
  return result;
}

// Reads a byte range through libsndfile's virtual I/O.
struct MemoryFile {
  std::span<const std::uint8_t> bytes;
  sf_count_t pos = 0;

  static sf_count_t Length(void* self) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(self)->bytes.size()); }
  static sf_count_t Seek(sf_count_t offset, int whence, void* self) {
    auto* m = static_cast<MemoryFile*>(self);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    sf_count_t to = offset;
    if (whence == SEEK_CUR) to = m->pos + offset;
    if (whence == SEEK_END) to = size + offset;
    if (to < 0 || to > size) return -1;
    m->pos = to;
    return to;
  }
  static sf_count_t Read(void* ptr, sf_count_t count, void* self) {
    auto* m = static_cast<MemoryFile*>(self);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(size - m->pos, 0, std::max<sf_count_t>(count, 0));
    if (n > 0) std::copy_n(m->bytes.data() + m->pos, n, static_cast<std::uint8_t*>(ptr));
    m->pos += n;
    return n;
  }
  static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
  static sf_count_t Tell(void* self) { return static_cast<MemoryFile*>(self)->pos; }
};

class FileSink final : public MpegFrameSink {
 public:
  explicit FileSink(const std::string& path) : buffer_(1 << 20), file_(std::fopen(path.c_str(), "wb")) {
    if (file_) std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  }
  ~FileSink() override {
    if (file_) std::fclose(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool open() const { return file_ != nullptr; }
  bool WriteMpegAudioFrame(std::uint32_t, std::span<const std::uint8_t> frame) override {
    return std::fwrite(frame.data(), 1, frame.size(), file_) == frame.size();
  }
  bool Close() {
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
  }

 private:
  std::vector<char> buffer_;  // outlives file_: declared first
  std::FILE* file_;
};

}  // namespace

WavEncodeResult EncodeWavBytes(std::span<const std::uint8_t> wav, const std::string& name, MpegFrameSink& sink, int kbps) {
  MemoryFile memory{wav};
  SF_VIRTUAL_IO io{&MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::Read, &MemoryFile::Write, &MemoryFile::Tell};
  SF_INFO info{};
  const SndFile file(sf_open_virtual(&io, SFM_READ, &info, &memory));
  if (!file) {
    WavEncodeResult result;
    result.error = "cannot read '" + name + "': " + sf_strerror(nullptr);
    return result;
  }
  return Encode(file.get(), info, name, kbps, sink);
}

int RunEncodeMp2Command(int argc, char** argv) {
  std::vector<std::string> paths;
  int kbps = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "-b") {
      const std::string value = i + 1 < argc ? argv[++i] : "";
      const auto* rate = std::find_if(mpegenc::kLayer2Kbps.begin(), mpegenc::kLayer2Kbps.end(),
                                      [&](int r) { return std::to_string(r) == value; });
      if (rate == mpegenc::kLayer2Kbps.end()) {
        std::fprintf(stderr, "encode-mp2: '%s' is not a Layer II bit rate\n%s", value.c_str(), kUsage);
        return kExitUsage;
      }
      kbps = *rate;
      continue;
    }
    if (!arg.empty() && arg[0] == '-' && arg != "-") {
      std::fprintf(stderr, "encode-mp2: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return kExitUsage;
    }
    paths.push_back(arg);
  }
  if (paths.size() != 2) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  // Before the output is opened (and emptied): it must not be the input,
  // nor what standard input is when the input is "-".
  const auto input = paths[0] == "-" ? IdentityOfStandardInput() : IdentityOfPath(paths[0]);
  if (OutputIsFile("encode-mp2", input, paths[0], paths[1])) return kExitUsage;
  SF_INFO info{};
  const SndFile file(sf_open(paths[0].c_str(), SFM_READ, &info));
  // A stop while the header was awaited (standard input) cuts its read
  // short: that is the stop, not a bad input.
  if (abortRequested.load(std::memory_order_relaxed)) {
    std::fprintf(stderr, "encode-mp2: stopped by the user; no output written\n");
    return kExitCutShort;
  }
  if (!file) {
    std::fprintf(stderr, "encode-mp2: cannot read '%s': %s\n", paths[0].c_str(), sf_strerror(nullptr));
    return kExitInputError;
  }
  const std::string format = CheckFormat(info, paths[0]);
  if (!format.empty()) {
    std::fprintf(stderr, "encode-mp2: %s\n", format.c_str());
    return kExitInputError;
  }
  // A rate the input's channels do not take is the command line's fault.
  const std::string stream = mpegenc::CheckStreamFormat(FormatOf(info, kbps));
  if (!stream.empty()) {
    std::fprintf(stderr, "encode-mp2: %s\n", stream.c_str());
    return kExitUsage;
  }
  // Known before the output is created: no file is left for nothing.
  if (info.frames == 0) {
    std::fprintf(stderr, "encode-mp2: '%s' holds no audio samples\n", paths[0].c_str());
    return kExitInputError;
  }
  FileSink sink(paths[1]);
  if (!sink.open()) {
    std::fprintf(stderr, "encode-mp2: cannot write '%s'\n", paths[1].c_str());
    return kExitOutputError;
  }
  const WavEncodeResult result = Encode(file.get(), info, paths[0], kbps, sink);
  const bool closed = sink.Close();
  // What was written stays: whole frames, and the output may be a device or
  // a file the user keeps (it is never removed).
  if (!result.ok || !closed) {
    if (!result.ok && result.error != "the output refused a frame") {
      std::fprintf(stderr, "encode-mp2: %s\n", result.error.c_str());
      return kExitInputError;
    }
    std::fprintf(stderr, "encode-mp2: cannot write '%s'\n", paths[1].c_str());
    return kExitOutputError;
  }
  if (result.stopped) {
    std::fprintf(stderr, "encode-mp2: stopped by the user\n");
    return kExitCutShort;
  }
  if (result.cutShort) {
    std::fprintf(stderr,
                 "encode-mp2: '%s': input error: the file became shorter while it was read; the output "
                 "ends after %llu of its %lld samples\n",
                 paths[0].c_str(), static_cast<unsigned long long>(result.samples),
                 static_cast<long long>(info.frames));
    return kExitCutShort;
  }
  return kExitOk;
}

}  // namespace kelvor::cli
