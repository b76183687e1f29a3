#pragma once
// The masking curves of many channels at once. The re-encoder needs a new
// curve for nearly every block of every channel; with AVX2 eight channels
// go through the decoder's integer steps side by side, one a lane, and
// give the same numbers as ac3::compute_mask (which runs instead where the
// processor lacks AVX2).
#include <cstdint>
#include <span>

#include "ac3dec/bit_allocation.h"

namespace kelvor::transcode {

// One channel from bin 0 to `end` (at most 253, the last banded bin + 1).
struct MaskJob {
  const std::int32_t* exps = nullptr;  // 256 exponents
  int end = 0;
  int fgain = 0;
  ac3::BitAllocParams params;
  int result = 0;  // index into the results
};

// Fills the mask (bands up to the one holding bin end-1) of
// results[job.result] for every job; psd and bndpsd may be left unfilled.
void compute_mask_batch(std::span<const MaskJob> jobs, std::span<ac3::MaskResult> results);

}  // namespace kelvor::transcode
