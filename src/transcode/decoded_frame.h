#pragma once
// One E-AC-3 frame's blocks, decoded and not yet stored: what the decoding
// half of the transcoder hands to the storing and encoding half.
#include <array>

#include "transcode/block_store.h"

namespace kelvor::transcode {

struct DecodedFrame {
  FrameMetadata meta;
  std::array<BlockSlot, kBlocksPerFrame> slot{};
  std::array<std::array<ChannelCoefs, kMaxChannels>, kBlocksPerFrame> coef{};
  std::array<std::array<Q24, kLfeBins>, kBlocksPerFrame> lfe_coef{};
  unsigned decoded = 0;  // blocks read whole
  // The frame reached its blocks (CRC, bsi and audfrm passed); unless
  // `whole`, block `decoded` failed and only its layout (acmod, lfeon,
  // frame_bytes) in slot[decoded] is set.
  bool reached_blocks = false;
  bool whole = false;
};

}  // namespace kelvor::transcode
