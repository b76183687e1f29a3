#include "matroska/avc_config.h"

#include <array>
#include <cstring>

#include "matroska/nal_units.h"
#include "matroska/rbsp_reader.h"
#include "matroska/video_tables.h"

namespace kelvor::mkv {

namespace {

constexpr std::size_t kMaxSpsBytes = 512;

// Profiles whose SPS carries chroma format and bit depths.
bool HasChromaInfo(unsigned profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
      return true;
    default:
      return false;
  }
}

void SkipScalingList(RbspReader& r, unsigned size) {
  std::int32_t last = 8;
  std::int32_t next = 8;
  for (unsigned j = 0; j < size && !r.exhausted(); ++j) {
    if (next != 0) next = (last + r.Se() + 256) % 256;
    if (next != 0) last = next;
  }
}

}  // namespace

std::optional<AvcSps> ReadAvcSps(std::span<const std::uint8_t> nal) {
  if (nal.size() < 4 || H264NalType(nal) != 7) return std::nullopt;
  std::array<std::uint8_t, kMaxSpsBytes> rbsp{};
  const std::size_t n = Unescape(nal.subspan(1), rbsp);
  RbspReader r({rbsp.data(), n});
  AvcSps s;
  s.profile = static_cast<std::uint8_t>(r.Bits(8));
  s.compatibility = static_cast<std::uint8_t>(r.Bits(8));
  s.level = static_cast<std::uint8_t>(r.Bits(8));
  (void)r.Ue();  // seq_parameter_set_id
  bool separatePlanes = false;
  if (HasChromaInfo(s.profile)) {
    s.chromaFormat = r.Ue();
    if (s.chromaFormat > 3) return std::nullopt;
    if (s.chromaFormat == 3) separatePlanes = r.Flag();
    s.bitDepthLuma = r.Ue() + 8;
    s.bitDepthChroma = r.Ue() + 8;
    if (s.bitDepthLuma > 14 || s.bitDepthChroma > 14) return std::nullopt;
    r.Skip(1);  // qpprime_y_zero_transform_bypass_flag
    if (r.Flag()) {  // seq_scaling_matrix_present_flag
      const unsigned lists = s.chromaFormat == 3 ? 12 : 8;
      for (unsigned i = 0; i < lists; ++i) {
        if (r.Flag()) SkipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  (void)r.Ue();  // log2_max_frame_num_minus4
  const std::uint32_t pocType = r.Ue();
  if (pocType == 0) {
    (void)r.Ue();
  } else if (pocType == 1) {
    r.Skip(1);
    (void)r.Se();
    (void)r.Se();
    const std::uint32_t cycle = r.Ue();
    if (cycle > 255) return std::nullopt;
    for (std::uint32_t i = 0; i < cycle; ++i) (void)r.Se();
  } else if (pocType != 2) {
    return std::nullopt;
  }
  (void)r.Ue();  // max_num_ref_frames
  r.Skip(1);     // gaps_in_frame_num_value_allowed_flag
  const std::uint32_t widthMbs = r.Ue() + 1;
  const std::uint32_t heightMapUnits = r.Ue() + 1;
  const bool frameMbsOnly = r.Flag();
  if (!frameMbsOnly) r.Skip(1);  // mb_adaptive_frame_field_flag
  r.Skip(1);                     // direct_8x8_inference_flag
  std::uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (r.Flag()) {
    cropLeft = r.Ue();
    cropRight = r.Ue();
    cropTop = r.Ue();
    cropBottom = r.Ue();
  }
  Ratio sar{1, 1};
  if (r.Flag()) {  // vui_parameters_present_flag
    if (r.Flag()) {  // aspect_ratio_info_present_flag
      const std::uint32_t idc = r.Bits(8);
      if (idc == kExtendedSar) {
        sar.num = r.Bits(16);
        sar.den = r.Bits(16);
      } else if (idc < kSampleAspectRatios.size()) {
        sar = idc == 0 ? Ratio{1, 1} : kSampleAspectRatios[idc];
      }
    }
    if (r.Flag()) r.Skip(1);  // overscan
    if (r.Flag()) {           // video_signal_type_present_flag
      r.Skip(4);
      if (r.Flag()) r.Skip(24);
    }
    if (r.Flag()) {  // chroma_loc_info_present_flag
      (void)r.Ue();
      (void)r.Ue();
    }
    if (r.Flag()) {  // timing_info_present_flag
      const std::uint32_t unitsInTick = r.Bits(32);
      const std::uint32_t timeScale = r.Bits(32);
      // A frame is two ticks.
      if (unitsInTick != 0 && timeScale != 0 && !r.exhausted()) {
        s.format.frameDurationNs = (std::uint64_t{2000000000} * unitsInTick + timeScale / 2) / timeScale;
      }
    }
  }
  if (r.exhausted() || widthMbs > 1024 || heightMapUnits > 1024) return std::nullopt;

  const std::uint32_t frameHeightMbs = (frameMbsOnly ? 1 : 2) * heightMapUnits;
  const bool monochrome = s.chromaFormat == 0 || separatePlanes;
  const std::uint32_t cropX = monochrome ? 1 : (s.chromaFormat == 3 ? 1 : 2);
  const std::uint32_t cropY = (monochrome ? 1 : (s.chromaFormat == 1 ? 2 : 1)) * (frameMbsOnly ? 1 : 2);
  const std::uint64_t cropW = std::uint64_t{cropX} * (std::uint64_t{cropLeft} + cropRight);
  const std::uint64_t cropH = std::uint64_t{cropY} * (std::uint64_t{cropTop} + cropBottom);
  if (cropW >= widthMbs * 16ull || cropH >= frameHeightMbs * 16ull) return std::nullopt;
  s.format.width = widthMbs * 16 - static_cast<std::uint32_t>(cropW);
  s.format.height = frameHeightMbs * 16 - static_cast<std::uint32_t>(cropH);
  s.format.interlaced = !frameMbsOnly;
  s.format.interlaceKnown = true;
  ApplyAspect(s.format, sar.num, sar.den);
  return s;
}

std::size_t BuildAvcConfig(std::span<const std::uint8_t> sps, std::span<const std::uint8_t> pps,
                           std::span<std::uint8_t> out) {
  const std::optional<AvcSps> s = ReadAvcSps(sps);
  if (!s || pps.empty() || sps.size() > 0xFFFF || pps.size() > 0xFFFF) return 0;
  const bool chromaInfo = HasChromaInfo(s->profile);
  const std::size_t size = 6 + 2 + sps.size() + 1 + 2 + pps.size() + (chromaInfo ? 4 : 0);
  if (size > out.size()) return 0;
  std::uint8_t* p = out.data();
  *p++ = 1;  // configurationVersion
  *p++ = s->profile;
  *p++ = s->compatibility;
  *p++ = s->level;
  *p++ = 0xFF;  // NAL unit lengths in four bytes
  *p++ = 0xE1;  // one SPS
  *p++ = static_cast<std::uint8_t>(sps.size() >> 8);
  *p++ = static_cast<std::uint8_t>(sps.size());
  std::memcpy(p, sps.data(), sps.size());
  p += sps.size();
  *p++ = 1;  // one PPS
  *p++ = static_cast<std::uint8_t>(pps.size() >> 8);
  *p++ = static_cast<std::uint8_t>(pps.size());
  std::memcpy(p, pps.data(), pps.size());
  p += pps.size();
  if (chromaInfo) {
    *p++ = static_cast<std::uint8_t>(0xFC | s->chromaFormat);
    *p++ = static_cast<std::uint8_t>(0xF8 | (s->bitDepthLuma - 8));
    *p++ = static_cast<std::uint8_t>(0xF8 | (s->bitDepthChroma - 8));
    *p++ = 0;  // no SPS extensions
  }
  return size;
}

}  // namespace kelvor::mkv
