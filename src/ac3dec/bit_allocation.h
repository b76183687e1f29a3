#pragma once
// The parametric bit allocation of A/52 section 7.2.2, in the integers of the
// standard. Split in three stages so that a caller can keep the mask and
// apply different offsets or delta allocations to it.
#include <array>
#include <cstdint>
#include <span>

#include "ac3dec/frame_state.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

// Decoded bit-allocation parameters (the table values, not the codes).
struct BitAllocParams {
  int sdecay = 0;
  int fdecay = 0;
  int sgain = 0;
  int dbknee = 0;
  int floor = 0;
};

// The mask inputs of one channel. Channels that start at bin 0 use the
// low-frequency compensation; others (the coupling channel) start their leak
// recursion from fastleak and slowleak.
struct MaskInput {
  int start = 0;
  int end = 0;
  int fgain = 0;
  int fastleak = 0;
  int slowleak = 0;
};

struct MaskResult {
  std::array<std::int32_t, 256> psd{};
  std::array<std::int32_t, kBands + 1> bndpsd{};
  std::array<std::int32_t, kBands> mask{};
};

// psd, band integration, excitation and masking curve. An empty range
// (start >= end) changes nothing, here and in compute_bap.
void compute_mask(std::span<const std::int32_t, 256> exps, const MaskInput& in, const BitAllocParams& params,
                  MaskResult& out);

// Adds the delta bit allocation segments to the mask (modes 0 and 1).
void apply_delta(const DeltaAllocation& dba, std::span<std::int32_t, kBands> mask);

// Allocation pointers of bins start..end-1 from the mask; `table` is baptab
// or hebaptab.
void compute_bap(const MaskResult& m, int start, int end, int snroffset, int floor,
                 std::span<const std::uint8_t, 64> table, std::span<std::uint8_t, 256> bap);

// The same without the processor-specific (AVX2) path.
void compute_bap_portable(const MaskResult& m, int start, int end, int snroffset, int floor,
                          std::span<const std::uint8_t, 64> table, std::span<std::uint8_t, 256> bap);

}  // namespace kelvor::ac3
