#pragma once
// Helpers of the decoder tests: cutting elementary streams into frames,
// repairing CRCs after deliberate edits, decoding whole streams, and the
// ffmpeg reference folded to stereo with the decoder's gains.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ac3dec/ac3_decoder.h"

namespace kelvor::test {

struct FrameRef {
  std::size_t offset = 0;
  std::size_t length = 0;
  bool eac3 = false;
};

// Independent syncframes of an AC-3 or E-AC-3 elementary stream, in order.
std::vector<FrameRef> SplitFrames(std::span<const std::uint8_t> es);

// Rewrites the CRC words of a frame after its bytes were changed: the final
// word (crc2, or the E-AC-3 CRC) and, for AC-3, crc1 at bytes 2 and 3.
void RepairCrc(std::span<std::uint8_t> frame, bool eac3);

struct StereoPcm {
  std::vector<double> left;
  std::vector<double> right;
  std::size_t size() const { return left.size(); }
};

// Decodes every frame of a stream with one decoder on stream index 0.
// Rejected frames count in `rejected` and add no samples.
StereoPcm DecodeStream(std::span<const std::uint8_t> es, Ac3Decoder& decoder, int* rejected = nullptr);

// ffmpeg's float decoder with -drc_scale 0, every channel decoded and folded
// to stereo here with the decoder's fixed gains. `extra` goes before -i.
std::optional<StereoPcm> FfmpegFolded(const std::filesystem::path& input, const std::string& extra = "");

// 10 log10(signal / error) over the common length; reference leads by
// `shift` samples when shift > 0.
double SnrDb(const StereoPcm& test, const StereoPcm& reference, int shift = 0);

}  // namespace kelvor::test
