// libFuzzer target for the WAV -> MPEG audio path of kelvor-cli encode-mp2:
// the input is a WAV file. Whatever libsndfile makes of it, the encoder must
// either refuse it with a message or write whole frames, each as long as its
// header says. The bit rate comes from the input's last byte (a sample byte
// in a WAV), so that every rate, the default and the refusal of rates the
// channels do not take are all reached.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "cli/encode_mp2_command.h"
#include "mpegenc/mpeg_audio_encoder.h"
#include "mpegenc/stream_format.h"

namespace {

struct CheckingSink final : kelvor::mpegenc::MpegFrameSink {
  bool WriteMpegAudioFrame(std::uint32_t, std::span<const std::uint8_t> frame) override {
    if (frame.size() < 4 || frame[0] != 0xFF || frame[1] != 0xFD) std::abort();
    const int kbpsIndex = frame[2] >> 4;
    const int rateIndex = (frame[2] >> 2) & 3;
    if (kbpsIndex == 0 || kbpsIndex == 15 || rateIndex == 3) std::abort();
    static constexpr int kRates[] = {44100, 48000, 32000};
    const auto kbps = static_cast<std::size_t>(kelvor::mpegenc::kLayer2Kbps[static_cast<std::size_t>(kbpsIndex - 1)]);
    const std::size_t bytes = 144000 * kbps / static_cast<std::size_t>(kRates[rateIndex]) + ((frame[2] >> 1) & 1);
    if (frame.size() != bytes) std::abort();
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckingSink sink;
  const std::size_t choice = size == 0 ? 14 : data[size - 1] % 15u;
  const int kbps = choice == 14 ? 0 : kelvor::mpegenc::kLayer2Kbps[choice];
  const auto result = kelvor::cli::EncodeWavBytes(std::span<const std::uint8_t>(data, size), "input", sink, kbps);
  // Success writes frames; a refusal says why.
  if (result.ok ? result.frames == 0 : result.error.empty()) std::abort();
  return 0;
}
