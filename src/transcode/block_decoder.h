#pragma once
// Turns the audio blocks of one E-AC-3 frame into plain per-channel
// transform coefficients: the block syntax, bit allocation, mantissas and
// hybrid transform, decoupling, rematrixing and spectral extension are the
// decoder's own routines; this class runs them without the inverse
// transform and records what the AC-3 writer carries over.
#include <array>
#include <cstdint>

#include "ac3dec/aht.h"
#include "ac3dec/audio_block.h"
#include "ac3dec/bit_allocation.h"
#include "ac3dec/coefficient_tools.h"
#include "ac3dec/dither.h"
#include "ac3dec/frame_state.h"
#include "ac3dec/mantissas.h"
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
  void allocate(ac3::FrameState& fs, const ac3::BlockChanges& changes);
  bool read_mantissas(BitReader& br, ac3::FrameState& fs, int blk, Ac3Dither& dither);
  static void record_side_information(const ac3::FrameState& fs, BlockSlot& slot);

  ac3::MantissaReader mantissas_;
  ac3::MaskResult mask_;
  std::array<ac3::Coefficients, ac3::kSlots> coeffs_{};  // the coupling slot holds unscaled mantissas
  std::array<std::array<ac3::AhtBin, 256>, ac3::kSlots> aht_{};
  bool all_zero_ = false;  // the last allocation gave every pointer 0
};

}  // namespace kelvor::transcode
