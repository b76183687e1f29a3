#pragma once
// The AC-3 / E-AC-3 decoder: one syncframe in, 256 stereo Q24 samples per
// audio block out. It keeps, between frames, only the overlap delay lines of
// four independent streams and the dither generator.
#include <array>
#include <cstdint>
#include <span>

#include "ac3dec/block_coefficients.h"
#include "ac3dec/dither.h"
#include "ac3dec/frame_state.h"
#include "common/bit_reader.h"
#include "common/q24.h"

namespace kelvor {

// Counts of the coding tools met in successfully decoded frames, so that
// tests and tools can tell which decoder paths a stream exercises.
struct Ac3ToolUsage {
  std::uint64_t ac3_frames = 0;
  std::uint64_t eac3_frames = 0;
  std::array<std::uint64_t, 7> eac3_frames_by_blocks{};  // index: blocks per frame (1, 2, 3, 6)
  std::uint64_t blocks = 0;
  std::uint64_t short_block_blocks = 0;      // a channel used the 256-sample transforms
  std::uint64_t coupling_blocks = 0;
  std::uint64_t phase_flag_blocks = 0;
  std::uint64_t rematrix_blocks = 0;         // at least one band rematrixed
  std::uint64_t lfe_blocks = 0;
  std::uint64_t dither_blocks = 0;           // a channel with dithflag set
  std::uint64_t delta_alloc_blocks = 0;
  std::uint64_t spx_blocks = 0;
  std::uint64_t spx_atten_frames = 0;
  std::uint64_t aht_channel_frames = 0;      // channel-frames coded with the hybrid transform
  std::uint64_t frame_exp_strategy_frames = 0;  // E-AC-3 frames with expstre = 0
  std::uint64_t frame_snr_offset_frames = 0;    // E-AC-3 frames with snroffststr = 0
  std::array<std::uint64_t, 8> acmod_frames{};
};

// What the transforms and the fold-down need to know of a block.
struct Ac3BlockLayout {
  int acmod = 0;
  int nfchans = 0;
  bool lfeon = false;
  std::array<bool, ac3::kMaxFbw> blksw{};  // 256-sample transforms
};

// One audio block between the two halves of the decoder: its channels'
// coefficients after coupling, rematrixing and spectral extension, in the
// parse's slots (channels 0..4, the unused coupling slot, the LFE).
struct Ac3BlockSpectrum {
  Ac3BlockLayout layout;
  alignas(64) std::array<ac3::Coefficients, ac3::kSlots> coeffs{};
};

class Ac3Decoder {
 public:
  static constexpr unsigned kStreams = 4;
  static constexpr std::size_t kSamplesPerBlock = 256;
  static constexpr std::size_t kMaxSamples = 6 * kSamplesPerBlock;

  Ac3Decoder() { ac3_decoder_init(); }

  // Clears the delay lines of all streams and reseeds the dither generator.
  void ac3_decoder_init();

  // Decodes one syncframe (from its sync word, exactly its length) of
  // stream 0..3. eac3 selects the E-AC-3 syntax when non-zero. Block b goes
  // to elements 256b .. 256b + 255 of left and right, which must each hold
  // kMaxSamples. Returns the number of blocks (6 for AC-3; 1, 2, 3 or 6 for
  // E-AC-3), or 0 when the frame is rejected: then nothing in the output is
  // valid, though the delay lines of blocks decoded before the fault have
  // advanced.
  unsigned ac3_decode_frame(unsigned stream, std::span<const std::uint8_t> frame, std::uint8_t eac3,
                            std::span<Q24> left, std::span<Q24> right);

  // The first half of ac3_decode_frame: parsing, bit allocation, mantissas
  // and the coefficient tools of every block, into blocks[0 ..]. Returns
  // what ac3_decode_frame returns. `ready` counts the blocks written: all of
  // them, or on a rejection those before the fault, which must still go
  // through the second half to leave the delay lines as ac3_decode_frame
  // leaves them.
  unsigned ac3_decode_coefficients(std::span<const std::uint8_t> frame, std::uint8_t eac3,
                                   std::span<Ac3BlockSpectrum, ac3::kMaxBlocks> blocks, unsigned& ready);

  // The second half, one block: the transforms through the delay lines of
  // stream 0..3 and the fold-down to 256 stereo samples (block's
  // coefficients are overwritten). It touches nothing but the delay lines,
  // so it may run on one thread while the first half of later frames runs on
  // another.
  void ac3_synthesize_block(unsigned stream, Ac3BlockSpectrum& block, std::span<Q24, 256> left,
                            std::span<Q24, 256> right);

  const Ac3ToolUsage& tool_usage() const { return usage_; }

 private:
  struct StreamDelayLines {
    std::array<std::array<Q24, 256>, ac3::kMaxFbw> fbw;
    std::array<Q24, 256> lfe;
  };

  bool begin_frame(std::span<const std::uint8_t> frame, bool is_eac3);
  // Leaves block blk's coefficients in block_.
  bool decode_block(int blk);
  void count_frame_tools();
  void count_block_tools();
  static void synthesize(const Ac3BlockLayout& layout, std::array<ac3::Coefficients, ac3::kSlots>& coeffs,
                         StreamDelayLines& delay, std::span<Q24, 256> left, std::span<Q24, 256> right);

  BitReader br_;
  Ac3Dither dither_;
  ac3::FrameState fs_;
  ac3::BlockCoefficients block_;
  std::array<StreamDelayLines, kStreams> delay_{};
  Ac3ToolUsage usage_;
};

}  // namespace kelvor
