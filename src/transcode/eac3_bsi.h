#pragma once
// The E-AC-3 bit stream information (bsi) as the transcoder reads it: the
// values the block syntax needs go to the shared parse record, the ones the
// AC-3 header carries over to FrameMetadata, and everything else is read
// over.
#include <cstdint>
#include <span>

#include "ac3dec/frame_state.h"
#include "common/bit_reader.h"
#include "transcode/block_store.h"

namespace kelvor::transcode {

// Sets the reader to the frame and leaves it at the first audfrm field.
void read_eac3_bsi(BitReader& br, std::span<const std::uint8_t> frame, ac3::FrameState& fs, FrameMetadata& meta);

}  // namespace kelvor::transcode
