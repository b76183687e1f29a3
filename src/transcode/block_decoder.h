#pragma once
// Turns the audio blocks of one E-AC-3 frame into plain per-channel
// transform coefficients: the block syntax, bit allocation, mantissas and
// hybrid transform, decoupling, rematrixing and spectral extension are the
// decoder's own routines; this class runs them without the inverse
// transform and records what the AC-3 writer carries over.
#include <array>
#include <cstdint>

#include "ac3dec/block_coefficients.h"
#include "ac3dec/dither.h"
#include "ac3dec/frame_state.h"
#include "common/bit_reader.h"
#include "transcode/block_store.h"

namespace kelvor::transcode {

class BlockDecoder {
 public:
  // Block blk of the frame whose bsi and audfrm `fs` holds, read from `br`
  // into `slot` and the coefficient arrays. False on any syntax or range
  // fault.
  bool decode_block(BitReader& br, ac3::FrameState& fs, int blk, Ac3Dither& dither, BlockSlot& slot,
                    std::array<ChannelCoefs, kMaxChannels>& coef, std::array<Q24, kLfeBins>& lfe_coef);

 private:
  static void record_side_information(const ac3::FrameState& fs, BlockSlot& slot);

  ac3::BlockCoefficients block_;
};

}  // namespace kelvor::transcode
