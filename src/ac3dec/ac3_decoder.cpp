#include "ac3dec/ac3_decoder.h"

#include <algorithm>

#include "ac3dec/audio_block.h"
#include "ac3dec/downmix.h"
#include "ac3dec/frame_header.h"
#include "ac3dec/inverse_transform.h"
#include "ac3dec/tables.h"

namespace kelvor {

using namespace ac3;

namespace {
constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }
}  // namespace


void Ac3Decoder::ac3_decoder_init() {
  for (StreamDelayLines& d : delay_) {
    for (auto& line : d.fbw) line.fill(0);
    d.lfe.fill(0);
  }
  dither_.reset();
}

unsigned Ac3Decoder::ac3_decode_frame(unsigned stream, std::span<const std::uint8_t> frame, std::uint8_t eac3,
                                      std::span<Q24> left, std::span<Q24> right) {
  if (stream >= kStreams || left.size() < kMaxSamples || right.size() < kMaxSamples) return 0;
  if (!begin_frame(frame, eac3 != 0)) return 0;
  const FrameState& fs = fs_;
  for (int blk = 0; blk < fs.num_blocks; ++blk) {
    if (!decode_block(blk)) return 0;
    // Transformed in place: no copy of the coefficients on this path.
    const Ac3BlockLayout layout{fs.acmod, fs.nfchans, fs.lfeon, fs.blksw};
    const std::size_t at = idx(blk) * kSamplesPerBlock;
    synthesize(layout, block_.coeffs(), delay_[stream], left.subspan(at).first<256>(), right.subspan(at).first<256>());
  }
  count_frame_tools();
  return static_cast<unsigned>(fs.num_blocks);
}

unsigned Ac3Decoder::ac3_decode_coefficients(std::span<const std::uint8_t> frame, std::uint8_t eac3,
                                             std::span<Ac3BlockSpectrum, kMaxBlocks> blocks, unsigned& ready) {
  ready = 0;
  if (!begin_frame(frame, eac3 != 0)) return 0;
  const FrameState& fs = fs_;
  bool ok = true;
  for (int blk = 0; blk < fs.num_blocks; ++blk) {
    // The block's coefficients go straight into its spectrum.
    Ac3BlockSpectrum& out = blocks[idx(blk)];
    block_.set_output(&out.coeffs);
    if (!decode_block(blk)) {
      ok = false;
      break;
    }
    out.layout = Ac3BlockLayout{fs.acmod, fs.nfchans, fs.lfeon, fs.blksw};
    ++ready;
  }
  block_.set_output(nullptr);
  if (!ok) return 0;
  count_frame_tools();
  return static_cast<unsigned>(fs.num_blocks);
}

void Ac3Decoder::ac3_synthesize_block(unsigned stream, Ac3BlockSpectrum& block, std::span<Q24, 256> left,
                                      std::span<Q24, 256> right) {
  if (stream >= kStreams) return;
  synthesize(block.layout, block.coeffs, delay_[stream], left, right);
}

bool Ac3Decoder::begin_frame(std::span<const std::uint8_t> frame, bool is_eac3) {
  if (!check_syncframe(frame, is_eac3)) return false;
  FrameState& fs = fs_;
  reset_frame_state(fs);
  if (is_eac3) {
    parse_eac3_bsi(br_, frame, fs);
  } else {
    parse_ac3_bsi(br_, frame, fs);
  }
  start_frame(fs);
  return !is_eac3 || parse_audfrm(br_, fs);
}

bool Ac3Decoder::decode_block(int blk) {
  FrameState& fs = fs_;
  BlockChanges changes;
  if (!parse_audio_block(br_, fs, blk, changes)) return false;
  if (changes.any()) block_.allocate_bits(fs, changes);
  if (!block_.read_mantissas(br_, fs, blk, dither_)) return false;
  block_.resolve_channels(fs, dither_);
  count_block_tools();
  return true;
}

void Ac3Decoder::count_frame_tools() {
  const FrameState& fs = fs_;
  if (fs.eac3) {
    ++usage_.eac3_frames;
    ++usage_.eac3_frames_by_blocks[idx(fs.num_blocks)];
    usage_.frame_exp_strategy_frames += fs.expstre ? 0 : 1;
    usage_.frame_snr_offset_frames += fs.snroffststr == 0 ? 1 : 0;
    usage_.spx_atten_frames += fs.spxattene ? 1 : 0;
    usage_.aht_channel_frames += static_cast<std::uint64_t>(std::count(fs.ahtinu.begin(), fs.ahtinu.end(), true));
  } else {
    ++usage_.ac3_frames;
  }
  ++usage_.acmod_frames[idx(fs.acmod)];
}

void Ac3Decoder::synthesize(const Ac3BlockLayout& layout, std::array<Coefficients, kSlots>& coeffs,
                            StreamDelayLines& delay, std::span<Q24, 256> left, std::span<Q24, 256> right) {
  std::array<const Q24*, kMaxFbw> channels{};
  for (int ch = 0; ch < layout.nfchans; ++ch) {
    const auto c = idx(ch);
    if (layout.blksw[c]) {
      inverse_transform_256(coeffs[c], delay.fbw[c]);
    } else {
      inverse_transform_512(coeffs[c], delay.fbw[c]);
    }
    channels[c] = coeffs[c].data();
  }
  const Q24* lfe = nullptr;
  if (layout.lfeon) {
    inverse_transform_512(coeffs[kLfe], delay.lfe);
    lfe = coeffs[kLfe].data();
  }
  fold_to_stereo(layout.acmod, std::span<const Q24* const>(channels.data(), idx(layout.nfchans)), lfe, left, right);
}

void Ac3Decoder::count_block_tools() {
  const FrameState& fs = fs_;
  const auto n = idx(fs.nfchans);
  ++usage_.blocks;
  usage_.short_block_blocks += std::any_of(fs.blksw.begin(), fs.blksw.begin() + static_cast<std::ptrdiff_t>(n), [](bool b) { return b; }) ? 1 : 0;
  usage_.dither_blocks += std::any_of(fs.dithflag.begin(), fs.dithflag.begin() + static_cast<std::ptrdiff_t>(n), [](bool b) { return b; }) ? 1 : 0;
  usage_.coupling_blocks += fs.cplinu ? 1 : 0;
  usage_.phase_flag_blocks += (fs.cplinu && fs.phsflginu) ? 1 : 0;
  bool remat = false;
  for (int b = 0; fs.acmod == 2 && b < fs.nrematbd; ++b) remat = remat || fs.rematflg[idx(b)];
  usage_.rematrix_blocks += remat ? 1 : 0;
  usage_.lfe_blocks += fs.lfeon ? 1 : 0;
  bool delta = false;
  for (const DeltaAllocation& d : fs.dba) delta = delta || d.mode == 0 || d.mode == 1;
  usage_.delta_alloc_blocks += delta ? 1 : 0;
  usage_.spx_blocks += (fs.eac3 && fs.spxinu) ? 1 : 0;
}

}  // namespace kelvor
