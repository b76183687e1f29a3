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

// Whether a block changed anything the bit allocation depends on: new
// exponents, parameters, SNR offsets, fast gains, coupling leaks or delta
// allocations.
struct BlockChanges {
  bool realloc = false;
};

bool parse_audio_block(BitReader& br, FrameState& fs, int blk, BlockChanges& changes);

}  // namespace kelvor::ac3
