#include "ac3dec/block_coefficients.h"

#include <algorithm>

#include "ac3dec/ac3_math.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {
constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }
}  // namespace

void BlockCoefficients::allocate_bits(FrameState& fs, const BlockChanges& changes) {
  bool all_zero = fs.csnroffst == -240 && (!fs.cplinu || fs.fsnroffst[kCpl] == 0) && (!fs.lfeon || fs.fsnroffst[kLfe] == 0);
  for (int ch = 0; ch < fs.nfchans; ++ch) all_zero = all_zero && fs.fsnroffst[idx(ch)] == 0;
  // Leaving the all-zero state needs every channel anew.
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

bool BlockCoefficients::read_mantissas(BitReader& br, FrameState& fs, int blk, Ac3Dither& dither) {
  mantissas_.start_block();
  auto& store = coeffs();
  // A channel's bins 0..end-1: from the hybrid transform store (read whole
  // in block 0) or from the bit stream.
  const auto read_channel = [&](std::size_t slot, int end, bool dith) {
    Coefficients& co = store[slot];
    if (fs.ahtinu[slot]) {
      if (blk == 0 && !read_aht_channel(br, fs.bap[slot], 0, end, dither, true, aht_[slot])) return false;
      for (int bin = 0; bin < end; ++bin)
        co[idx(bin)] = shr32(aht_[slot][idx(bin)][idx(blk)], fs.exps[slot][idx(bin)]);
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
      Coefficients& cpl = store[kCpl];
      if (fs.ahtinu[kCpl]) {
        // Without dither, like the coupling channel's ordinary mantissas:
        // decoupling dithers its empty bins per channel, as dithflag says.
        if (blk == 0 && !read_aht_channel(br, fs.bap[kCpl], fs.cpl_start, fs.cpl_end, dither, false, aht_[kCpl]))
          return false;
        for (int bin = fs.cpl_start; bin < fs.cpl_end; ++bin) cpl[idx(bin)] = aht_[kCpl][idx(bin)][idx(blk)];
      } else if (!mantissas_.read_bins<false>(br, fs.bap[kCpl].data(), nullptr, fs.cpl_start, fs.cpl_end, false,
                                              dither, cpl.data())) {
        return false;
      }
    }
    const int zero_from = coupled ? fs.cpl_end : fs.endmant[c];
    std::fill(store[c].begin() + zero_from, store[c].end(), 0);
  }
  if (fs.lfeon) {
    if (!read_channel(kLfe, 7, true)) return false;
    std::fill(store[kLfe].begin() + 7, store[kLfe].end(), 0);
  }
  return true;
}

void BlockCoefficients::resolve_channels(const FrameState& fs, Ac3Dither& dither) {
  auto& store = coeffs();
  if (fs.cplinu) {
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      if (fs.chincpl[idx(ch)]) decouple_channel(fs, ch, store[kCpl], dither, store[idx(ch)]);
    }
  }
  if (fs.acmod == 2) rematrix(fs, store[0], store[1]);
  if (fs.eac3 && fs.spxinu) {
    apply_spectral_extension(fs, std::span<Coefficients, kMaxFbw>(store.data(), kMaxFbw), dither);
  }
}

}  // namespace kelvor::ac3
