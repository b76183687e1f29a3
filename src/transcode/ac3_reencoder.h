#pragma once
// Encodes six stored blocks as the audio blocks of an AC-3 frame: exponents
// taken afresh from the coefficients and shared over runs of similar
// blocks (how similar, the caller chooses), the bit allocation with the input's parameter codes (the
// dB-per-bit knee excepted), one SNR offset for the frame found by halving
// so that the frame fits, and the mantissas quantised and packed. Stereo bands whose sum or difference is
// much quieter than either channel are sent rematrixed (as sum and
// difference halves), so that a pair of alike channels costs the bits of
// little more than one. No coupling, delta allocation or skip fields.
#include <array>
#include <cstdint>

#include "ac3dec/bit_allocation.h"
#include "transcode/bit_writer.h"
#include "transcode/block_store.h"
#include "transcode/exponent_coding.h"
#include "transcode/mantissa_coding.h"
#include "transcode/mask_batch.h"
#include "transcode/pointer_allocation.h"

namespace kelvor::transcode {

// When a block stops sharing the exponents of the blocks before it. Wide
// runs save exponent bits; but a run that spans a transient shares the
// loudest block's exponents, and its quieter blocks then spend mantissa bits
// on bins that hold little (a tone's last blocks, noisier input frames).
enum class ExponentSharing : std::uint8_t {
  kWide,    // new exponents where a block differs much from the one before
  kNarrow,  // and where it differs a quarter as much
};

class Ac3Reencoder {
 public:
  static constexpr int kLfe = kMaxChannels;  // channel index of the LFE in the work arrays
  static constexpr int kChannels = kMaxChannels + 1;

  // Exponents, strategies and masks of channels 0..nfchans-1 (and the LFE
  // with lfeon) of the stream's six slots.
  void analyse(const TranscoderStream& stream, int acmod, bool lfeon, ExponentSharing sharing = ExponentSharing::kWide);

  // After analyse with kWide: kNarrow would start a run where this did not
  // (otherwise it gives the same frame).
  bool narrow_differs() const { return narrow_differs_; }

  // Bits of the six blocks that are not mantissas.
  std::uint32_t side_information_bits() const;

  // Mantissa bits of the whole frame at SNR offset code a = 16 csnroffst + fsnroffst.
  std::uint32_t frame_mantissa_bits(int a);

  // The largest a in 1..1023 whose mantissas fit `mantissa_budget` (the bit
  // count grows with a), searched outward from `hint` (the offset of the
  // stream's previous frame) and then by halving; false when none fits.
  bool choose_snr_offset(std::int64_t mantissa_budget, int hint = 512);

  // The six audio blocks at the chosen offset.
  void write_blocks(BitWriter& bw);

  // Inspection for tests.
  Strategy strategy(int blk, int ch) const { return strategy_[idx(blk)][idx(ch)]; }
  const Exponents& exponents(int blk, int ch) const { return exps_[idx(blk)][idx(ch)]; }
  bool rematflg(int blk, int band) const { return remat_[idx(blk)][idx(band)]; }
  int csnroffst() const { return csnroffst_; }
  int fsnroffst() const { return fsnroffst_; }
  std::uint32_t chosen_mantissa_bits() const { return chosen_bits_; }

 private:
  static constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }
  int end_of(int blk, int ch) const { return ch == kLfe ? kLfeBins : 3 * bw_[idx(blk)][idx(ch)] + 73; }
  bool in_use(int ch) const { return ch < nfchans_ || (ch == kLfe && lfeon_); }
  const Q24* coef_of(int blk, int ch) const;
  std::uint32_t band_code(int blk, int ch) const;
  void choose_rematrixing();
  bool new_rematrixing(int blk) const { return blk == 0 || remat_[idx(blk)] != remat_[idx(blk - 1)]; }
  void choose_exponents(int ch, ExponentSharing sharing);
  void compute_masks();

  const TranscoderStream* stream_ = nullptr;
  int acmod_ = 0;
  int nfchans_ = 0;
  bool lfeon_ = false;
  bool narrow_differs_ = false;
  std::array<std::array<ChannelCoefs, 2>, kBlocksPerFrame> stereo_{};  // a stereo pair after rematrixing
  std::array<std::array<bool, 4>, kBlocksPerFrame> remat_{};
  std::array<std::array<Exponents, kChannels>, kBlocksPerFrame> exps_{};
  std::array<std::array<Strategy, kChannels>, kBlocksPerFrame> strategy_{};
  std::array<std::array<int, kChannels>, kBlocksPerFrame> bw_{};
  std::array<ac3::MaskResult, kBlocksPerFrame * kChannels> masks_{};  // block-major
  // The block whose mask a block uses: itself, or an earlier one of the
  // same exponents and parameters.
  std::array<std::array<std::uint8_t, kChannels>, kBlocksPerFrame> mask_block_{};
  std::array<std::array<SpreadMask, kChannels>, kBlocksPerFrame> spread_{};
  // The block whose pointers a block uses: itself, or an earlier one when
  // the pointers cannot differ at any offset (same exponents, mask and
  // floor).
  std::array<std::array<std::uint8_t, kChannels>, kBlocksPerFrame> pointer_block_{};
  // Two sets of pointers: those of the offset chosen so far, and those of
  // the offset being tried (which become the chosen ones if it fits).
  using PointerSet = std::array<std::array<std::array<std::uint8_t, 256>, kChannels>, kBlocksPerFrame>;
  std::array<PointerSet, 2> bap_{};
  int chosen_set_ = 0;
  std::array<std::array<std::uint16_t, 256>, kChannels> codes_{};
  int csnroffst_ = 0;
  int fsnroffst_ = 0;
  std::uint32_t chosen_bits_ = 0;
  MantissaQuantiser quantiser_;
};

}  // namespace kelvor::transcode
