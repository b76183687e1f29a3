#include "convert/h264_sps_timing.h"

#include <array>

#include "common/bit_reader.h"

namespace kelvor {
namespace {

// Longest parameter set read; the timing of a longer one is not looked for.
constexpr std::size_t kMaxSpsBytes = 512;

// Reads the exp-Golomb codes of the parameter set; a code longer than 32
// bits, or one that runs off the end, marks the reader as failed.
class SpsReader {
 public:
  explicit SpsReader(std::span<const std::uint8_t> bytes) : bits_(bytes) {}

  std::uint32_t Bits(unsigned n) {
    if (bits_.bits_remaining() < n) failed_ = true;
    if (n <= 16) return bits_.read_bits(n);
    const std::uint32_t high = bits_.read_bits(n - 16);
    return high << 16 | bits_.read_bits(16);
  }
  bool Flag() { return Bits(1) != 0; }
  std::uint32_t Ue() {
    unsigned zeros = 0;
    while (!failed_ && Bits(1) == 0) {
      if (++zeros > 31) failed_ = true;
    }
    if (failed_) return 0;
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + Bits(zeros));
  }
  void Se() { Ue(); }
  bool failed() const { return failed_; }

 private:
  BitReader bits_;
  bool failed_ = false;
};

// Profiles whose parameter sets carry chroma format, bit depths and scaling
// matrices.
bool HasChromaInfo(std::uint32_t profile) {
  for (const std::uint32_t p : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u}) {
    if (profile == p) return true;
  }
  return false;
}

void SkipScalingList(SpsReader& r, std::uint32_t size) {
  std::uint32_t last = 8;
  std::uint32_t next = 8;
  for (std::uint32_t j = 0; j < size && !r.failed(); ++j) {
    if (next != 0) {
      // delta_scale, se(v): the code number k stands for +(k+1)/2 or -k/2.
      const std::uint32_t k = r.Ue();
      const std::int32_t delta = (k & 1) != 0 ? static_cast<std::int32_t>((k + 1) / 2)
                                              : -static_cast<std::int32_t>(k / 2);
      next = static_cast<std::uint32_t>((static_cast<std::int32_t>(last) + delta + 256) % 256);
    }
    if (next != 0) last = next;
  }
}

}  // namespace

std::uint32_t SpsTiming::FrameTicks() const {
  if (numUnitsInTick == 0 || timeScale == 0) return 0;
  const std::uint64_t ticks = 2 * 90000 * std::uint64_t{numUnitsInTick} / timeScale;
  return ticks >= 300 && ticks <= 90000 ? static_cast<std::uint32_t>(ticks) : 0;
}

std::optional<SpsTiming> ReadSpsTiming(std::span<const std::uint8_t> rbsp) {
  // Without emulation prevention bytes (00 00 03: the 03 goes).
  std::array<std::uint8_t, kMaxSpsBytes> clean{};
  std::size_t n = 0;
  std::uint32_t zeros = 0;
  for (const std::uint8_t b : rbsp) {
    if (n == clean.size()) break;
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    clean[n++] = b;
  }
  SpsReader r{std::span<const std::uint8_t>(clean).first(n)};
  const std::uint32_t profile = r.Bits(8);
  r.Bits(16);  // constraint flags, level_idc
  r.Ue();      // seq_parameter_set_id
  if (HasChromaInfo(profile)) {
    const std::uint32_t chroma = r.Ue();
    if (chroma == 3) r.Flag();  // separate_colour_plane_flag
    r.Ue();                     // bit depths
    r.Ue();
    r.Flag();  // qpprime_y_zero_transform_bypass_flag
    if (r.Flag()) {
      const std::uint32_t lists = chroma != 3 ? 8 : 12;
      for (std::uint32_t i = 0; i < lists && !r.failed(); ++i) {
        if (r.Flag()) SkipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  r.Ue();  // log2_max_frame_num_minus4
  const std::uint32_t pocType = r.Ue();
  if (pocType == 0) {
    r.Ue();
  } else if (pocType == 1) {
    r.Flag();
    r.Se();
    r.Se();
    const std::uint32_t cycle = r.Ue();
    if (cycle > 255) return std::nullopt;
    for (std::uint32_t i = 0; i < cycle && !r.failed(); ++i) r.Se();
  }
  r.Ue();    // max_num_ref_frames
  r.Flag();  // gaps_in_frame_num_value_allowed_flag
  r.Ue();    // picture width and height
  r.Ue();
  if (!r.Flag()) r.Flag();  // frame_mbs_only_flag; mb_adaptive_frame_field_flag
  r.Flag();                 // direct_8x8_inference_flag
  if (r.Flag()) {
    for (int i = 0; i < 4; ++i) r.Ue();  // cropping
  }
  if (!r.Flag()) return std::nullopt;  // no usability information
  if (r.Flag() && r.Bits(8) == 255) r.Bits(32);  // aspect ratio, extended SAR
  if (r.Flag()) r.Flag();                         // overscan
  if (r.Flag()) {                                 // video signal type
    r.Bits(4);
    if (r.Flag()) r.Bits(24);  // colour description
  }
  if (r.Flag()) {  // chroma sample locations
    r.Ue();
    r.Ue();
  }
  if (!r.Flag() || r.failed()) return std::nullopt;
  SpsTiming t;
  t.numUnitsInTick = r.Bits(32);
  t.timeScale = r.Bits(32);
  t.fixedFrameRate = r.Flag();
  if (r.failed()) return std::nullopt;
  return t;
}

}  // namespace kelvor
