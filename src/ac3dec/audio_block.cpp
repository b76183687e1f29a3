// The audio block syntax shared by AC-3 and E-AC-3, in bit-stream order.
#include "ac3dec/audio_block.h"

#include <algorithm>

#include "ac3dec/ac3_math.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {

using std::size_t;

constexpr size_t idx(int i) { return static_cast<size_t>(i); }

class BlockParser {
 public:
  BlockParser(BitReader& br, FrameState& fs, int blk, BlockChanges& changes)
      : br_(br), fs_(fs), blk_(blk), changes_(changes) {}

  bool parse() {
    switches_and_gains();
    bool cplstre = false;
    if (!fs_.eac3) {
      cplstre = bit();
      if (cplstre) {
        fs_.cplinu = bit();
      } else if (blk_ == 0) {
        return false;
      }
    } else {
      cplstre = fs_.cplstre[idx(blk_)];
      fs_.cplinu = fs_.cplinu_blk[idx(blk_)];
      if (!spectral_extension()) return false;
    }
    if (cplstre && !coupling_strategy()) return false;
    if (fs_.cplinu && !coupling_coordinates()) return false;
    if (fs_.acmod == 2 && !rematrixing()) return false;
    return exponents() && bit_allocation_fields() && skip_field();
  }

 private:
  unsigned bits(unsigned n) { return br_.read_bits(n); }
  bool bit() { return br_.read_bits(1) != 0; }
  int nfchans() const { return fs_.nfchans; }

  void switches_and_gains() {
    if (fs_.blkswe) {
      for (int ch = 0; ch < nfchans(); ++ch) fs_.blksw[idx(ch)] = bit();
    }
    if (fs_.dithflage) {
      for (int ch = 0; ch < nfchans(); ++ch) fs_.dithflag[idx(ch)] = bit();
    }
    // Dynamic range gains are parsed but not applied to the output.
    for (int program = 0; program < (fs_.acmod == 0 ? 2 : 1); ++program) {
      if (bit()) fs_.dynrng[idx(program)] = static_cast<int>(bits(8));
    }
  }

  bool spectral_extension() {
    const bool spxstre = blk_ == 0 || bit();
    if (spxstre) {
      fs_.spxinu = bit();
      if (fs_.spxinu) {
        for (int ch = 0; ch < nfchans(); ++ch) fs_.chinspx[idx(ch)] = fs_.acmod == 1 || bit();
        const int spxstrtf = static_cast<int>(bits(2));
        const int spxbegf = static_cast<int>(bits(3));
        const int spxendf = static_cast<int>(bits(3));
        const int begin = spxbegf < 6 ? spxbegf + 2 : 2 * spxbegf - 3;
        const int end = spxendf < 3 ? spxendf + 5 : 2 * spxendf + 3;
        if (spxstrtf >= begin || begin >= end) return false;
        fs_.spx_begin_subbnd = begin;
        fs_.spx_end_subbnd = end;
        fs_.spx_copy_start = 25 + 12 * spxstrtf;
        fs_.spx_begin = 25 + 12 * begin;
        fs_.spx_end = 25 + 12 * end;
        if (bit()) {  // spxbndstrce
          for (int sb = begin + 1; sb < end; ++sb) fs_.spxbndstrc[idx(sb)] = static_cast<std::uint8_t>(bit());
        }
        fs_.nspxbnds = 1;
        fs_.spx_band_size[0] = 12;
        for (int sb = begin + 1; sb < end; ++sb) {
          if (fs_.spxbndstrc[idx(sb)]) {
            fs_.spx_band_size[idx(fs_.nspxbnds - 1)] += 12;
          } else {
            fs_.spx_band_size[idx(fs_.nspxbnds++)] = 12;
          }
        }
      } else {
        fs_.chinspx.fill(false);
        fs_.first_spx_coords.fill(true);
      }
    }
    if (!fs_.spxinu) return true;
    for (int ch = 0; ch < nfchans(); ++ch) {
      if (!fs_.chinspx[idx(ch)]) {
        fs_.first_spx_coords[idx(ch)] = true;
        continue;
      }
      bool spxcoe = true;
      if (fs_.first_spx_coords[idx(ch)]) {
        fs_.first_spx_coords[idx(ch)] = false;
      } else {
        spxcoe = bit();
      }
      if (spxcoe) spx_coordinates(ch);
    }
    return true;
  }

  // Reads one channel's blend and coordinates and turns them into the
  // signal and noise scales of each band. The blended noise must have unit
  // variance, so that a band keeps the energy its coordinate gives; the
  // dither values are uniform in [-1, 1) (variance 1/3), hence the ratio
  // is taken three times under the root of the noise scale.
  void spx_coordinates(int ch) {
    const int spxblnd = static_cast<int>(bits(5));
    const int mstrspxco = static_cast<int>(bits(2));
    int bin = fs_.spx_begin;
    for (int bnd = 0; bnd < fs_.nspxbnds; ++bnd) {
      const int spxcoexp = static_cast<int>(bits(4));
      const int spxcomant = static_cast<int>(bits(2));
      const int size = fs_.spx_band_size[idx(bnd)];
      const int shift = 26 - 3 * mstrspxco - spxcoexp;
      const Q24 coord = shl32(spxcoexp == 15 ? 2 * spxcomant : spxcomant + 4, static_cast<unsigned>(shift));
      const std::int64_t centre = bin + size / 2;
      std::int64_t ratio = (centre << 24) / fs_.spx_end - static_cast<std::int64_t>(spxblnd) * (1 << 19);
      ratio = std::clamp<std::int64_t>(ratio, 0, kQ24One);
      fs_.spx_signal[idx(ch)][idx(bnd)] = mul_sat_q24(sqrt_q24(static_cast<Q24>(kQ24One - ratio)), coord);
      fs_.spx_noise[idx(ch)][idx(bnd)] = mul_sat_q24(sqrt_q24(static_cast<Q24>(3 * ratio)), coord);
      bin += size;
    }
  }

  bool coupling_strategy() {
    if (!fs_.cplinu) {
      fs_.chincpl.fill(false);
      fs_.cplco_received.fill(false);
      if (fs_.eac3) {
        fs_.first_cpl_coords.fill(true);
        fs_.first_cpl_leak = true;
      }
      fs_.phsflginu = false;
      fs_.cplleak_received = false;
      fs_.dba_received[kCpl] = false;
      return true;
    }
    if (fs_.eac3 && bit()) return false;  // enhanced coupling is not decoded
    for (int ch = 0; ch < nfchans(); ++ch) {
      const bool in = (fs_.eac3 && fs_.acmod == 2) || bit();
      fs_.chincpl[idx(ch)] = in;
      if (!in) fs_.cplco_received[idx(ch)] = false;
    }
    if (fs_.acmod == 2) fs_.phsflginu = bit();
    fs_.cplbegf = static_cast<int>(bits(4));
    const int end = (fs_.eac3 && fs_.spxinu) ? fs_.spx_begin_subbnd - 1 : static_cast<int>(bits(4)) + 3;
    if (fs_.cplbegf >= end) return false;
    fs_.cpl_end_subbnd = end;
    fs_.cpl_start = 12 * fs_.cplbegf + 37;
    fs_.cpl_end = 12 * end + 37;
    if (!fs_.eac3 || bit()) {  // AC-3 always sends the band structure
      for (int sb = fs_.cplbegf + 1; sb < end; ++sb) fs_.cplbndstrc[idx(sb)] = static_cast<std::uint8_t>(bit());
    }
    int nbands = 1;
    fs_.cpl_band_end[0] = fs_.cpl_start + 12;
    for (int sb = fs_.cplbegf + 1; sb < end; ++sb) {
      if (fs_.cplbndstrc[idx(sb)]) {
        fs_.cpl_band_end[idx(nbands - 1)] += 12;
      } else {
        fs_.cpl_band_end[idx(nbands)] = fs_.cpl_band_end[idx(nbands - 1)] + 12;
        ++nbands;
      }
    }
    fs_.ncplbnds = nbands;
    changes_.slot[kCpl] = true;  // a new coupling range
    return true;
  }

  bool coupling_coordinates() {
    bool any_new = false;
    for (int ch = 0; ch < nfchans(); ++ch) {
      const size_t c = idx(ch);
      if (!fs_.chincpl[c]) {
        if (fs_.eac3) fs_.first_cpl_coords[c] = true;
        continue;
      }
      bool cplcoe = true;
      if (fs_.first_cpl_coords[c]) {
        fs_.first_cpl_coords[c] = false;
      } else {
        cplcoe = bit();
      }
      if (!cplcoe) {
        if (!fs_.cplco_received[c]) return false;
        continue;
      }
      any_new = true;
      fs_.cplco_received[c] = true;
      const int mstrcplco = static_cast<int>(bits(2));
      for (int bnd = 0; bnd < fs_.ncplbnds; ++bnd) {
        const int cplcoexp = static_cast<int>(bits(4));
        const int cplcomant = static_cast<int>(bits(4));
        const Q24 mant = cplcoexp == 15 ? cplcomant << 20 : (cplcomant + 16) << 19;
        fs_.cplco[c][idx(bnd)] = mant >> (cplcoexp + 3 * mstrcplco);
      }
    }
    if (fs_.acmod == 2 && fs_.phsflginu && any_new) {
      for (int bnd = 0; bnd < fs_.ncplbnds; ++bnd) fs_.phsflg[idx(bnd)] = bit();
    }
    return true;
  }

  bool rematrixing() {
    const bool rematstr = (fs_.eac3 && blk_ == 0) || bit();
    if (!rematstr) return blk_ != 0;
    if (fs_.cplinu) {
      fs_.nrematbd = fs_.cplbegf == 0 ? 2 : (fs_.cplbegf <= 2 ? 3 : 4);
    } else {
      fs_.nrematbd = (fs_.eac3 && fs_.spxinu && fs_.spx_begin_subbnd <= 3) ? 3 : 4;
    }
    for (int bnd = 0; bnd < fs_.nrematbd; ++bnd) fs_.rematflg[idx(bnd)] = bit();
    return true;
  }

  bool exponents() {
    const size_t b = idx(blk_);
    if (!fs_.eac3) {
      if (fs_.cplinu) fs_.cplexpstr[b] = static_cast<std::uint8_t>(bits(2));
      for (int ch = 0; ch < nfchans(); ++ch) fs_.chexpstr[b][idx(ch)] = static_cast<std::uint8_t>(bits(2));
      if (fs_.lfeon) fs_.lfeexpstr[b] = static_cast<std::uint8_t>(bits(1));
    }
    fs_.expstr.fill(0);
    for (int ch = 0; ch < nfchans(); ++ch) fs_.expstr[idx(ch)] = fs_.chexpstr[b][idx(ch)];
    if (fs_.cplinu) fs_.expstr[kCpl] = fs_.cplexpstr[b];
    if (fs_.lfeon) fs_.expstr[kLfe] = fs_.lfeexpstr[b];

    // Channel bandwidths.
    for (int ch = 0; ch < nfchans(); ++ch) {
      const size_t c = idx(ch);
      if (fs_.expstr[c] == 0) {
        if (blk_ == 0) return false;
        continue;
      }
      if (fs_.chincpl[c]) {
        fs_.endmant[c] = fs_.cpl_start;
      } else if (fs_.eac3 && fs_.spxinu && fs_.chinspx[c]) {
        fs_.endmant[c] = fs_.spx_begin;
      } else {
        const int chbwcod = static_cast<int>(bits(6));
        if (chbwcod > 60) return false;
        fs_.endmant[c] = 3 * chbwcod + 73;
      }
    }

    std::array<std::uint8_t, 96> groups{};
    const auto read_groups = [&](int count) {
      for (int g = 0; g < count; ++g) groups[idx(g)] = static_cast<std::uint8_t>(bits(7));
      return std::span<const std::uint8_t>(groups.data(), idx(count));
    };
    if (fs_.cplinu && fs_.expstr[kCpl] != 0) {
      const unsigned grpsize = 1u << (fs_.expstr[kCpl] - 1);
      const int ngrps = (fs_.cpl_end - fs_.cpl_start) / static_cast<int>(3 * grpsize);
      const auto absexp = static_cast<std::int32_t>(bits(4) << 1);
      auto out = std::span<std::int32_t>(fs_.exps[kCpl]).subspan(idx(fs_.cpl_start), idx(fs_.cpl_end - fs_.cpl_start));
      if (!ungroup_exponents(absexp, out, grpsize, read_groups(ngrps))) return false;
      changes_.slot[kCpl] = true;
    }
    for (int ch = 0; ch < nfchans(); ++ch) {
      const size_t c = idx(ch);
      if (fs_.expstr[c] == 0) continue;
      const unsigned grpsize = 1u << (fs_.expstr[c] - 1);
      const int end = fs_.endmant[c];
      const int ngrps = grpsize == 1 ? (end - 1) / 3 : (grpsize == 2 ? (end + 2) / 6 : (end + 8) / 12);
      const auto absexp = static_cast<std::int32_t>(bits(4));
      fs_.exps[c][0] = absexp;
      if (!ungroup_exponents(absexp, std::span<std::int32_t>(fs_.exps[c]).subspan(1), grpsize, read_groups(ngrps)))
        return false;
      bits(2);  // gainrng
      changes_.slot[c] = true;
    }
    if (fs_.lfeon && fs_.expstr[kLfe] != 0) {
      const auto absexp = static_cast<std::int32_t>(bits(4));
      fs_.exps[kLfe][0] = absexp;
      if (!ungroup_exponents(absexp, std::span<std::int32_t>(fs_.exps[kLfe]).subspan(1, 6), 1, read_groups(2)))
        return false;
      changes_.slot[kLfe] = true;
    }
    return true;
  }

  bool bit_allocation_fields() {
    if (fs_.bamode) {
      if (bit()) {  // baie
        fs_.sdecay = kSlowDecay[bits(2)];
        fs_.fdecay = kFastDecay[bits(2)];
        fs_.sgain = kSlowGain[bits(2)];
        fs_.dbknee = kDbPerBit[bits(2)];
        fs_.floor = kFloor[bits(3)];
        changes_.all = true;
      } else if (blk_ == 0) {
        return false;
      }
    }
    if (fs_.snroffststr != 0) {
      const bool snroffste = (fs_.eac3 && blk_ == 0) || bit();
      if (!snroffste && !fs_.eac3 && blk_ == 0) return false;
      if (snroffste) {
        changes_.all = true;
        fs_.csnroffst = (static_cast<int>(bits(6)) - 15) * 16;
        if (fs_.snroffststr == 1) {
          fs_.fsnroffst.fill(static_cast<int>(bits(4)));
        } else {
          const auto fine = [&](size_t slot) {
            fs_.fsnroffst[slot] = static_cast<int>(bits(4));
            if (!fs_.eac3) fs_.fgaincod[slot] = static_cast<int>(bits(3));
          };
          if (fs_.cplinu) fine(kCpl);
          for (int ch = 0; ch < nfchans(); ++ch) fine(idx(ch));
          if (fs_.lfeon) fine(kLfe);
        }
      }
    }
    if (fs_.frmfgaincode && bit()) {  // fgaincode: new fast gains also need a new allocation
      changes_.all = true;
      if (fs_.cplinu) fs_.fgaincod[kCpl] = static_cast<int>(bits(3));
      for (int ch = 0; ch < nfchans(); ++ch) fs_.fgaincod[idx(ch)] = static_cast<int>(bits(3));
      if (fs_.lfeon) fs_.fgaincod[kLfe] = static_cast<int>(bits(3));
    }
    if (fs_.strmtyp == 0 && bit()) bits(10);  // convsnroffst
    if (fs_.cplinu) {
      const bool leak = fs_.first_cpl_leak || bit();
      fs_.first_cpl_leak = false;
      if (leak) {
        fs_.cplfleak = static_cast<int>(bits(3));
        fs_.cplsleak = static_cast<int>(bits(3));
        fs_.cplleak_received = true;
        changes_.slot[kCpl] = true;  // new leaks need a new coupling allocation
      } else if (!fs_.cplleak_received) {
        return false;
      }
    }
    return delta_bit_allocation();
  }

  bool delta_bit_allocation() {
    if (!fs_.dbaflde || !bit()) {
      if (blk_ == 0) {
        for (DeltaAllocation& d : fs_.dba) d.mode = 2;
      }
      return true;
    }
    changes_.all = true;
    const auto code = [&](size_t slot) {
      const int mode = static_cast<int>(bits(2));
      fs_.dba[slot].mode = mode;
      return mode != 3 && (mode != 0 || fs_.dba_received[slot]);
    };
    if (fs_.cplinu && !code(kCpl)) return false;
    for (int ch = 0; ch < nfchans(); ++ch) {
      if (!code(idx(ch))) return false;
    }
    const auto segments = [&](size_t slot) {
      DeltaAllocation& d = fs_.dba[slot];
      if (d.mode != 1) return;
      d.nseg = static_cast<int>(bits(3)) + 1;
      for (int seg = 0; seg < d.nseg; ++seg) {
        d.offset[idx(seg)] = static_cast<std::uint8_t>(bits(5));
        d.length[idx(seg)] = static_cast<std::uint8_t>(bits(4));
        d.ba[idx(seg)] = static_cast<std::uint8_t>(bits(3));
      }
      fs_.dba_received[slot] = true;
    };
    if (fs_.cplinu) segments(kCpl);
    for (int ch = 0; ch < nfchans(); ++ch) segments(idx(ch));
    return true;
  }

  bool skip_field() {
    if (fs_.skipflde && bit()) {  // skiple: skipl bytes of padding
      const unsigned skip = bits(9) * 8;
      if (skip > 0) br_.skip_bits_long(skip);
    }
    return true;
  }

  BitReader& br_;
  FrameState& fs_;
  int blk_;
  BlockChanges& changes_;
};

}  // namespace

bool parse_audio_block(BitReader& br, FrameState& fs, int blk, BlockChanges& changes) {
  changes = BlockChanges{};
  changes.all = blk == 0;
  return BlockParser(br, fs, blk, changes).parse();
}

}  // namespace kelvor::ac3
