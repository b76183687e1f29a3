#pragma once
// The transform coefficients of one audio block as the bit stream gives
// them: the bit allocation, the mantissas (ordinary or hybrid transform)
// and the tools that resolve coupling, rematrixing and spectral extension
// into plain channels. The decoder runs the inverse transform on the
// result; the transcoder codes it again.
#include <array>

#include "ac3dec/aht.h"
#include "ac3dec/audio_block.h"
#include "ac3dec/bit_allocation.h"
#include "ac3dec/coefficient_tools.h"
#include "ac3dec/dither.h"
#include "ac3dec/frame_state.h"
#include "ac3dec/mantissas.h"
#include "common/bit_reader.h"

namespace kelvor::ac3 {

class BlockCoefficients {
 public:
  // The bit allocation pointers of the slots `changes` names (all of them
  // when the all-zero state is entered or left).
  void allocate_bits(FrameState& fs, const BlockChanges& changes);

  // The mantissas of block blk; bins past a channel's end are zero. False
  // on a read fault.
  bool read_mantissas(BitReader& br, FrameState& fs, int blk, Ac3Dither& dither);

  // Decoupling, rematrixing and spectral extension: afterwards every
  // full-bandwidth slot holds its channel's complete coefficients.
  void resolve_channels(const FrameState& fs, Ac3Dither& dither);

  std::array<Coefficients, kSlots>& coeffs() { return out_ != nullptr ? *out_ : coeffs_; }

  // Where the blocks that follow put their coefficients (every slot a block
  // uses is written whole): storage of the caller's, which then needs no
  // copy, or null for the built-in store.
  void set_output(std::array<Coefficients, kSlots>* out) { out_ = out; }

 private:
  MantissaReader mantissas_;
  MaskResult mask_;
  std::array<Coefficients, kSlots> coeffs_{};  // the coupling slot holds unscaled mantissas
  std::array<Coefficients, kSlots>* out_ = nullptr;
  std::array<std::array<AhtBin, 256>, kSlots> aht_{};
  bool all_zero_ = false;  // the last allocation took the all-zero short cut
};

}  // namespace kelvor::ac3
