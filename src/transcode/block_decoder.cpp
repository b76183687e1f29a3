#include "transcode/block_decoder.h"

#include <algorithm>

#include "ac3dec/ac3_math.h"
#include "ac3dec/audio_block.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

using namespace ac3;

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// The code of a bit allocation parameter from its table value.
template <std::size_t N>
std::uint32_t code_of(const std::array<std::int32_t, N>& table, int value) {
  for (std::size_t c = 0; c < N; ++c) {
    if (table[c] == value) return static_cast<std::uint32_t>(c);
  }
  return 0;
}

}  // namespace

bool BlockDecoder::decode_block(BitReader& br, FrameState& fs, int blk, Ac3Dither& dither, BlockSlot& slot,
                                std::array<ChannelCoefs, kMaxChannels>& coef, std::array<Q24, kLfeBins>& lfe_coef) {
  BlockChanges changes;
  if (!parse_audio_block(br, fs, blk, changes)) return false;
  if (changes.any()) allocate(fs, changes);
  if (!read_mantissas(br, fs, blk, dither)) return false;

  if (fs.cplinu) {
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      if (fs.chincpl[idx(ch)]) decouple_channel(fs, ch, coeffs_[kCpl], dither, coeffs_[idx(ch)]);
    }
  }
  if (fs.acmod == 2) rematrix(fs, coeffs_[0], coeffs_[1]);
  if (fs.spxinu) apply_spectral_extension(fs, std::span<Coefficients, kMaxFbw>(coeffs_.data(), kMaxFbw), dither);

  for (int ch = 0; ch < kMaxChannels; ++ch) {
    if (ch < fs.nfchans) {
      coef[idx(ch)] = coeffs_[idx(ch)];
    } else {
      coef[idx(ch)].fill(0);
    }
  }
  for (int bin = 0; bin < kLfeBins; ++bin) lfe_coef[idx(bin)] = fs.lfeon ? coeffs_[kLfe][idx(bin)] : 0;
  record_side_information(fs, slot);
  return true;
}

void BlockDecoder::allocate(FrameState& fs, const BlockChanges& changes) {
  bool all_zero = fs.csnroffst == -240 && (!fs.cplinu || fs.fsnroffst[kCpl] == 0) &&
                  (!fs.lfeon || fs.fsnroffst[kLfe] == 0);
  for (int ch = 0; ch < fs.nfchans; ++ch) all_zero = all_zero && fs.fsnroffst[idx(ch)] == 0;
  // Leaving the all-zero state needs every channel anew.
  const bool all = changes.all || all_zero != all_zero_;
  all_zero_ = all_zero;
  if (all_zero) {  // nothing coded: every mantissa is zero or dither
    for (auto& bap : fs.bap) bap.fill(0);
    return;
  }
  const BitAllocParams params{fs.sdecay, fs.fdecay, fs.sgain, fs.dbknee, fs.floor};
  const auto run = [&](std::size_t slot, int start, int end, int fastleak, int slowleak, const DeltaAllocation* dba) {
    if (!all && !changes.slot[slot]) return;  // nothing this channel's pointers depend on changed
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
  if (fs.cplinu) run(kCpl, fs.cpl_start, fs.cpl_end, fs.cplfleak * 256 + 768, fs.cplsleak * 256 + 768, &fs.dba[kCpl]);
  for (int ch = 0; ch < fs.nfchans; ++ch) run(idx(ch), 0, fs.endmant[idx(ch)], 0, 0, &fs.dba[idx(ch)]);
  if (fs.lfeon) run(kLfe, 0, 7, 0, 0, nullptr);
}

bool BlockDecoder::read_mantissas(BitReader& br, FrameState& fs, int blk, Ac3Dither& dither) {
  mantissas_.start_block();
  // Bins 0..end-1 of a channel: from the hybrid transform store (read whole
  // in block 0) or from the bit stream.
  const auto read_channel = [&](std::size_t slot, int end, bool dith) {
    Coefficients& co = coeffs_[slot];
    if (fs.ahtinu[slot]) {
      if (blk == 0 && !read_aht_channel(br, fs.bap[slot], 0, end, dither, true, aht_[slot])) return false;
      for (int bin = 0; bin < end; ++bin) co[idx(bin)] = shr32(aht_[slot][idx(bin)][idx(blk)], fs.exps[slot][idx(bin)]);
      return true;
    }
    return mantissas_.read_bins<true>(br, fs.bap[slot].data(), fs.exps[slot].data(), 0, end, dith, dither, co.data());
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
        // Without dither: decoupling dithers the empty bins per channel.
        if (blk == 0 && !read_aht_channel(br, fs.bap[kCpl], fs.cpl_start, fs.cpl_end, dither, false, aht_[kCpl]))
          return false;
        for (int bin = fs.cpl_start; bin < fs.cpl_end; ++bin) cpl[idx(bin)] = aht_[kCpl][idx(bin)][idx(blk)];
      } else if (!mantissas_.read_bins<false>(br, fs.bap[kCpl].data(), nullptr, fs.cpl_start, fs.cpl_end, false,
                                              dither, cpl.data())) {
        return false;
      }
    }
    const int zero_from = coupled ? fs.cpl_end : fs.endmant[c];
    std::fill(coeffs_[c].begin() + zero_from, coeffs_[c].end(), 0);
  }
  if (fs.lfeon && !read_channel(kLfe, 7, true)) return false;
  return true;
}

void BlockDecoder::record_side_information(const FrameState& fs, BlockSlot& slot) {
  slot.blksw.fill(0);
  slot.dithflag.fill(0);
  slot.fgaincod.fill(0);
  slot.chbwcod.fill(0);
  for (int ch = 0; ch < fs.nfchans; ++ch) {
    const auto c = idx(ch);
    slot.blksw[c] = fs.blksw[c] ? 1 : 0;
    slot.dithflag[c] = fs.dithflag[c] ? 1 : 0;
    slot.fgaincod[c] = static_cast<std::uint32_t>(fs.fgaincod[c] & 7);
    // Where the channel's coefficients end once every tool has run.
    int end = fs.endmant[c];
    if (fs.spxinu && fs.chinspx[c]) {
      end = fs.spx_end;
    } else if (fs.cplinu && fs.chincpl[c]) {
      end = fs.cpl_end;
    }
    slot.chbwcod[c] = static_cast<std::uint32_t>(std::clamp((end - 71) / 3, 0, 60));
  }
  slot.lfe_fgaincod = static_cast<std::uint32_t>(fs.fgaincod[kLfe] & 7);
  slot.dynrng = static_cast<std::uint32_t>(fs.dynrng[0]);
  slot.dynrng2 = static_cast<std::uint32_t>(fs.dynrng[1]);
  slot.sdcycod = code_of(kSlowDecay, fs.sdecay);
  slot.fdcycod = code_of(kFastDecay, fs.fdecay);
  slot.sgaincod = code_of(kSlowGain, fs.sgain);
  slot.dbpbcod = code_of(kDbPerBit, fs.dbknee);
  slot.floorcod = code_of(kFloor, fs.floor);
}

}  // namespace kelvor::transcode
