#include "matroska/hevc_config.h"

#include <array>
#include <cstring>

#include "matroska/nal_units.h"
#include "matroska/rbsp_reader.h"

namespace kelvor::mkv {

namespace {

constexpr std::size_t kMaxSpsBytes = 512;
constexpr unsigned kVpsType = 32;
constexpr unsigned kSpsType = 33;
constexpr unsigned kPpsType = 34;

}  // namespace

std::optional<HevcSps> ReadHevcSps(std::span<const std::uint8_t> nal) {
  if (nal.size() < 8 || HevcNalType(nal) != kSpsType) return std::nullopt;
  std::array<std::uint8_t, kMaxSpsBytes> rbsp{};
  const std::size_t n = Unescape(nal.subspan(2), rbsp);
  RbspReader r({rbsp.data(), n});
  HevcSps s;
  r.Skip(4);  // sps_video_parameter_set_id
  const std::uint32_t maxSubLayersMinus1 = r.Bits(3);
  if (maxSubLayersMinus1 > 6) return std::nullopt;
  s.subLayers = maxSubLayersMinus1 + 1;
  s.temporalIdNesting = r.Flag();
  // profile_tier_level, general part.
  s.profileSpace = static_cast<std::uint8_t>(r.Bits(2));
  s.tier = r.Flag();
  s.profile = static_cast<std::uint8_t>(r.Bits(5));
  s.compatibility = r.Bits(32);
  s.constraints = (std::uint64_t{r.Bits(16)} << 32) | r.Bits(32);
  s.level = static_cast<std::uint8_t>(r.Bits(8));
  std::array<bool, 8> profilePresent{};
  std::array<bool, 8> levelPresent{};
  for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    profilePresent[i] = r.Flag();
    levelPresent[i] = r.Flag();
  }
  if (maxSubLayersMinus1 > 0) r.Skip(2 * (8 - maxSubLayersMinus1));
  for (std::uint32_t i = 0; i < maxSubLayersMinus1; ++i) {
    if (profilePresent[i]) r.Skip(88);
    if (levelPresent[i]) r.Skip(8);
  }
  (void)r.Ue();  // sps_seq_parameter_set_id
  s.chromaFormat = r.Ue();
  if (s.chromaFormat > 3) return std::nullopt;
  bool separatePlanes = false;
  if (s.chromaFormat == 3) separatePlanes = r.Flag();
  const std::uint32_t width = r.Ue();
  const std::uint32_t height = r.Ue();
  std::uint32_t left = 0, right = 0, top = 0, bottom = 0;
  if (r.Flag()) {  // conformance_window_flag
    left = r.Ue();
    right = r.Ue();
    top = r.Ue();
    bottom = r.Ue();
  }
  s.bitDepthLuma = r.Ue() + 8;
  s.bitDepthChroma = r.Ue() + 8;
  if (r.exhausted() || s.bitDepthLuma > 16 || s.bitDepthChroma > 16 || width == 0 || height == 0 ||
      width > 16888 || height > 16888) {
    return std::nullopt;
  }
  const bool monochrome = s.chromaFormat == 0 || separatePlanes;
  const std::uint32_t subW = monochrome || s.chromaFormat == 3 ? 1 : 2;
  const std::uint32_t subH = monochrome || s.chromaFormat != 1 ? 1 : 2;
  const std::uint64_t cropW = std::uint64_t{subW} * (std::uint64_t{left} + right);
  const std::uint64_t cropH = std::uint64_t{subH} * (std::uint64_t{top} + bottom);
  if (cropW >= width || cropH >= height) return std::nullopt;
  s.format.width = width - static_cast<std::uint32_t>(cropW);
  s.format.height = height - static_cast<std::uint32_t>(cropH);
  ApplyAspect(s.format, 1, 1);
  return s;
}

std::size_t BuildHevcConfig(std::span<const std::uint8_t> vps, std::span<const std::uint8_t> sps,
                            std::span<const std::uint8_t> pps, std::span<std::uint8_t> out) {
  const std::optional<HevcSps> s = ReadHevcSps(sps);
  if (!s || vps.empty() || pps.empty() || vps.size() > 0xFFFF || sps.size() > 0xFFFF || pps.size() > 0xFFFF) {
    return 0;
  }
  const std::size_t size = 23 + 3 * 5 + vps.size() + sps.size() + pps.size();
  if (size > out.size()) return 0;
  std::uint8_t* p = out.data();
  *p++ = 1;  // configurationVersion
  *p++ = static_cast<std::uint8_t>((s->profileSpace << 6) | (s->tier ? 0x20 : 0) | s->profile);
  for (int shift = 24; shift >= 0; shift -= 8) *p++ = static_cast<std::uint8_t>(s->compatibility >> shift);
  for (int shift = 40; shift >= 0; shift -= 8) *p++ = static_cast<std::uint8_t>(s->constraints >> shift);
  *p++ = s->level;
  *p++ = 0xF0;  // min_spatial_segmentation_idc 0: not stated
  *p++ = 0x00;
  *p++ = 0xFC;  // parallelismType 0: not stated
  *p++ = static_cast<std::uint8_t>(0xFC | s->chromaFormat);
  *p++ = static_cast<std::uint8_t>(0xF8 | (s->bitDepthLuma - 8));
  *p++ = static_cast<std::uint8_t>(0xF8 | (s->bitDepthChroma - 8));
  *p++ = 0;  // avgFrameRate: not stated
  *p++ = 0;
  // constantFrameRate 0, numTemporalLayers, temporalIdNested, NAL unit
  // lengths in four bytes.
  *p++ = static_cast<std::uint8_t>((s->subLayers << 3) | (s->temporalIdNesting ? 0x04 : 0) | 0x03);
  *p++ = 3;  // arrays: VPS, SPS, PPS
  const std::array<std::span<const std::uint8_t>, 3> sets = {vps, sps, pps};
  const std::array<unsigned, 3> types = {kVpsType, kSpsType, kPpsType};
  for (std::size_t i = 0; i < 3; ++i) {
    // Not complete: the stream repeats its parameter sets in band.
    *p++ = static_cast<std::uint8_t>(types[i]);
    *p++ = 0;
    *p++ = 1;
    *p++ = static_cast<std::uint8_t>(sets[i].size() >> 8);
    *p++ = static_cast<std::uint8_t>(sets[i].size());
    std::memcpy(p, sets[i].data(), sets[i].size());
    p += sets[i].size();
  }
  return size;
}

}  // namespace kelvor::mkv
