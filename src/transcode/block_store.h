#pragma once
// What the transcoder keeps per stream between calls: up to six decoded
// audio blocks (their coefficients and the side information the AC-3 writer
// carries over), and the header values of the frame being read.
#include <array>
#include <cstdint>

#include "ac3dec/frame_header.h"
#include "common/q24.h"

namespace kelvor::transcode {

inline constexpr int kMaxChannels = 5;  // full-bandwidth channels
inline constexpr int kLfeBins = 7;
inline constexpr int kBlocksPerFrame = 6;

using ChannelCoefs = std::array<Q24, 256>;

// One output block position. Channels beyond the frame's own channel count
// hold zero coefficients and zero codes.
struct BlockSlot {
  std::uint32_t acmod = 0;
  std::uint32_t lfeon = 0;
  // Bytes the input spends on six blocks (its frame length scaled by six
  // over its block count), which sizes the output frame.
  std::uint32_t frame_bytes = 0;
  std::array<std::uint32_t, kMaxChannels> blksw{};
  std::array<std::uint32_t, kMaxChannels> dithflag{};
  std::uint32_t dynrng = 0;   // code in force; 0 when none was sent in the frame
  std::uint32_t dynrng2 = 0;  // the second mono channel of acmod 0
  std::uint32_t sdcycod = 0;
  std::uint32_t fdcycod = 0;
  std::uint32_t sgaincod = 0;
  std::uint32_t dbpbcod = 0;
  std::uint32_t floorcod = 0;
  std::array<std::uint32_t, kMaxChannels> fgaincod{};
  std::uint32_t lfe_fgaincod = 0;
  std::array<std::uint32_t, kMaxChannels> chbwcod{};  // 0..60: coefficients end before bin 3 * code + 73
};

// Header values of an E-AC-3 frame that the AC-3 header carries over.
using FrameMetadata = ac3::Eac3BsiValues;

struct TranscoderStream {
  std::uint32_t block_count = 0;  // blocks stored since the last output frame
  std::uint32_t last_snr_offset = 512;  // 16 csnroffst + fsnroffst of the last output frame: where the search starts
  bool has_frame = false;               // a frame was stored since the reset
  FrameMetadata meta;                   // of the last frame stored
  std::array<BlockSlot, kBlocksPerFrame> slot{};
  std::array<std::array<ChannelCoefs, kMaxChannels>, kBlocksPerFrame> coef{};
  std::array<std::array<Q24, kLfeBins>, kBlocksPerFrame> lfe_coef{};
};

}  // namespace kelvor::transcode
