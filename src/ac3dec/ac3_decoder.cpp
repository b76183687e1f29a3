#include "ac3dec/ac3_decoder.h"

#include <algorithm>

#include "ac3dec/ac3_math.h"
#include "ac3dec/audio_block.h"
#include "ac3dec/downmix.h"
#include "ac3dec/eac3_tables.h"
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
  const bool is_eac3 = eac3 != 0;
  if (!check_syncframe(frame, is_eac3)) return 0;
  FrameState& fs = fs_;
  reset_frame_state(fs);
  if (is_eac3) {
    parse_eac3_bsi(br_, frame, fs);
  } else {
    parse_ac3_bsi(br_, frame, fs);
  }
  start_frame(fs);
  if (is_eac3 && !parse_audfrm(br_, fs)) return 0;

  for (int blk = 0; blk < fs.num_blocks; ++blk) {
    BlockChanges changes;
    if (!parse_audio_block(br_, fs, blk, changes)) return 0;
    if (changes.any()) allocate_bits(changes);
    if (!read_mantissas(blk)) return 0;
    const std::size_t at = idx(blk) * kSamplesPerBlock;
    reconstruct_block(blk, delay_[stream], left.subspan(at).first<256>(), right.subspan(at).first<256>());
    count_block_tools();
  }

  if (is_eac3) {
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
  return static_cast<unsigned>(fs.num_blocks);
}

void Ac3Decoder::allocate_bits(const BlockChanges& changes) {
  FrameState& fs = fs_;
  bool all_zero = fs.csnroffst == -240 && (!fs.cplinu || fs.fsnroffst[kCpl] == 0) && (!fs.lfeon || fs.fsnroffst[kLfe] == 0);
  for (int ch = 0; ch < fs.nfchans; ++ch) all_zero = all_zero && fs.fsnroffst[idx(ch)] == 0;
  const bool all = changes.all || all_zero != all_zero_;
  all_zero_ = all_zero;
  if (all_zero) {
    // Nothing is coded: every mantissa is zero or dither.
    for (auto& bap : fs.bap) bap.fill(0);
    return;
  }
  const BitAllocParams params{fs.sdecay, fs.fdecay, fs.sgain, fs.dbknee, fs.floor};
  const auto run = [&](std::size_t slot, int start, int end, int fastleak, int slowleak, const DeltaAllocation* dba) {
    if (!all && !changes.slot[slot]) return;  // nothing this channel depends on changed
    MaskInput in;
    in.start = start;
    in.end = end;
    in.fgain = kFastGain[idx(fs.fgaincod[slot] & 7)];
    in.fastleak = fastleak;
    in.slowleak = slowleak;
    compute_mask(fs.exps[slot], in, params, mask_);
    if (dba) apply_delta(*dba, mask_.mask);
    const int snroffset = (fs.csnroffst + fs.fsnroffst[slot]) * 4;
    compute_bap(mask_, start, end, snroffset, fs.floor, fs.ahtinu[slot] ? eac3::hebaptab : baptab, fs.bap[slot]);
  };
  if (fs.cplinu) {
    run(kCpl, fs.cpl_start, fs.cpl_end, fs.cplfleak * 256 + 768, fs.cplsleak * 256 + 768, &fs.dba[kCpl]);
  }
  for (int ch = 0; ch < fs.nfchans; ++ch) run(idx(ch), 0, fs.endmant[idx(ch)], 0, 0, &fs.dba[idx(ch)]);
  if (fs.lfeon) run(kLfe, 0, 7, 0, 0, nullptr);
}

bool Ac3Decoder::read_mantissas(int blk) {
  FrameState& fs = fs_;
  mantissas_.start_block();
  // A channel's bins 0..end-1: from the hybrid transform store (read whole
  // in block 0) or from the bit stream.
  const auto read_channel = [&](std::size_t slot, int end, bool dither) {
    Coefficients& co = coeffs_[slot];
    if (fs.ahtinu[slot]) {
      if (blk == 0 && !read_aht_channel(br_, fs.bap[slot], 0, end, dither_, true, aht_[slot])) return false;
      for (int bin = 0; bin < end; ++bin)
        co[idx(bin)] = shr32(aht_[slot][idx(bin)][idx(blk)], fs.exps[slot][idx(bin)]);
      return true;
    }
    return mantissas_.read_bins<true>(br_, fs.bap[slot].data(), fs.exps[slot].data(), 0, end, dither, dither_,
                                      co.data());
  };

  bool coupling_read = false;
  for (int ch = 0; ch < fs.nfchans; ++ch) {
    const auto c = idx(ch);
    if (!read_channel(c, fs.endmant[c], fs.dithflag[c])) return false;
    const bool coupled = fs.cplinu && fs.chincpl[c];
    if (coupled && !coupling_read) {
      coupling_read = true;
      Coefficients& cpl = coeffs_[kCpl];
      if (fs.ahtinu[kCpl]) {
        // Without dither, like the coupling channel's ordinary mantissas:
        // decoupling dithers its empty bins per channel, as dithflag says.
        if (blk == 0 && !read_aht_channel(br_, fs.bap[kCpl], fs.cpl_start, fs.cpl_end, dither_, false, aht_[kCpl]))
          return false;
        for (int bin = fs.cpl_start; bin < fs.cpl_end; ++bin) cpl[idx(bin)] = aht_[kCpl][idx(bin)][idx(blk)];
      } else {
        if (!mantissas_.read_bins<false>(br_, fs.bap[kCpl].data(), nullptr, fs.cpl_start, fs.cpl_end, false, dither_,
                                         cpl.data()))
          return false;
      }
    }
    const int zero_from = coupled ? fs.cpl_end : fs.endmant[c];
    std::fill(coeffs_[c].begin() + zero_from, coeffs_[c].end(), 0);
  }
  if (fs.lfeon) {
    if (!read_channel(kLfe, 7, true)) return false;
    std::fill(coeffs_[kLfe].begin() + 7, coeffs_[kLfe].end(), 0);
  }
  return true;
}

void Ac3Decoder::reconstruct_block(int /*blk*/, StreamDelayLines& delay, std::span<Q24, 256> left,
                                   std::span<Q24, 256> right) {
  FrameState& fs = fs_;
  if (fs.cplinu) {
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      if (fs.chincpl[idx(ch)]) decouple_channel(fs, ch, coeffs_[kCpl], dither_, coeffs_[idx(ch)]);
    }
  }
  if (fs.acmod == 2) rematrix(fs, coeffs_[0], coeffs_[1]);
  if (fs.eac3 && fs.spxinu) apply_spectral_extension(fs, std::span<Coefficients, kMaxFbw>(coeffs_.data(), kMaxFbw), dither_);

  std::array<const Q24*, kMaxFbw> channels{};
  for (int ch = 0; ch < fs.nfchans; ++ch) {
    const auto c = idx(ch);
    if (fs.blksw[c]) {
      inverse_transform_256(coeffs_[c], delay.fbw[c]);
    } else {
      inverse_transform_512(coeffs_[c], delay.fbw[c]);
    }
    channels[c] = coeffs_[c].data();
  }
  const Q24* lfe = nullptr;
  if (fs.lfeon) {
    inverse_transform_512(coeffs_[kLfe], delay.lfe);
    lfe = coeffs_[kLfe].data();
  }
  fold_to_stereo(fs.acmod, std::span<const Q24* const>(channels.data(), idx(fs.nfchans)), lfe, left, right);
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
