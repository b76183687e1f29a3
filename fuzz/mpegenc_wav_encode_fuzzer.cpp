// libFuzzer target for the WAV -> MPEG audio path of kelvor-cli encode-mp2:
// the input is a WAV file. Whatever libsndfile makes of it, the encoder must
// either refuse it with a message or write whole 1152-byte frames that start
// with the fixed header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "cli/encode_mp2_command.h"
#include "mpegenc/frame_writer.h"
#include "mpegenc/mpeg_audio_encoder.h"

namespace {

struct CheckingSink final : kelvor::mpegenc::MpegFrameSink {
  bool WriteMpegAudioFrame(std::uint32_t, std::span<const std::uint8_t> frame) override {
    if (frame.size() != kelvor::mpegenc::kFrameBytes ||
        std::memcmp(frame.data(), kelvor::mpegenc::kFrameHeader.data(), 4) != 0) {
      std::abort();
    }
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckingSink sink;
  const auto result = kelvor::cli::EncodeWavBytes(std::span<const std::uint8_t>(data, size), "input", sink);
  // Success writes frames; a refusal says why.
  if (result.ok ? result.frames == 0 : result.error.empty()) std::abort();
  return 0;
}
