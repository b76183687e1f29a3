#pragma once
// The E-AC-3 frame-level audio fields (audfrm) and the audio block syntax
// shared by AC-3 and E-AC-3, including the exponents. Every syntax and
// range error rejects the frame (false).
#include <array>

#include "ac3dec/frame_state.h"
#include "common/bit_reader.h"

namespace kelvor::ac3 {

// Sets the per-frame defaults of the frame-level values that the block
// syntax reads or keeps. Called after the BSI and before audfrm.
void start_frame(FrameState& fs);

bool parse_audfrm(BitReader& br, FrameState& fs);

// What a block changed that the bit allocation depends on: `all` for the
// parameters every channel uses (allocation parameters, SNR offsets, fast
// gains, delta allocations; everything in block 0), `slot` for a channel's
// own new exponents, coupling range or leak values. Recomputing just the
// flagged channels gives the same pointers as recomputing every channel.
struct BlockChanges {
  bool all = false;
  std::array<bool, kSlots> slot{};
  bool any() const {
    for (const bool s : slot)
      if (s) return true;
    return all;
  }
};

bool parse_audio_block(BitReader& br, FrameState& fs, int blk, BlockChanges& changes);

}  // namespace kelvor::ac3
