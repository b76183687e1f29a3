#include "frame_builder.h"

#include <algorithm>
#include <random>

#include "ac3_test_support.h"
#include "ac3dec/ac3_math.h"
#include "ac3dec/bit_allocation.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/frame_state.h"
#include "ac3dec/tables.h"

namespace kelvor::test {
namespace {

using namespace ac3;
constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

class BitWriter {
 public:
  void put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) bit((value >> i) & 1u);
  }
  void bit(std::uint32_t b) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    if (b) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80u >> (count_ % 8)));
    ++count_;
  }
  std::size_t count() const { return count_; }
  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t count_ = 0;
};

class Builder {
 public:
  explicit Builder(const SyntheticRecipe& recipe) : s_(recipe), rng_(recipe.seed) {
    nfchans_ = kNfchans[idx(s_.acmod)];
    blocks_ = s_.eac3 ? s_.num_blocks : 6;
    words_ = s_.eac3 ? 2048 : 1280;
    if (Fault(Fault::kNoSnrOffsetInBlock0)) {
      // Allocated as a decoder that ignored the missing offsets would: with
      // offsets of zero.
      s_.csnroffst = 15;
      s_.fsnroffst = 0;
    }
  }

  SyntheticFrame Build() {
    Header();
    if (s_.eac3) AudioFrame();
    for (int blk = 0; blk < blocks_; ++blk) Block(blk);
    const std::size_t bytes = 2 * idx(words_);
    if (w_.count() > 8 * (bytes - 2)) return out_;  // did not fit
    w_.bytes().resize(bytes, 0);
    RepairCrc(w_.bytes(), s_.eac3);
    out_.bytes = w_.bytes();
    return out_;
  }

 private:
  std::uint32_t Rand(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
  void Put(std::uint32_t v, int bits) { w_.put(v, bits); }
  bool Fault(Fault f) const { return s_.fault == f; }

  int Strategy(int blk, int ch) const {
    if (blk == 0) return (Fault(Fault::kReuseInBlock0) && ch == 0) ? 0 : 1;
    return (s_.new_exponents && !s_.aht && blk == 3) ? 2 : 0;
  }

  void Header() {
    Put(0x0B77, 16);
    if (s_.eac3) {
      Put(static_cast<std::uint32_t>(s_.strmtyp), 2);
      Put(0, 3);  // substreamid
      Put(static_cast<std::uint32_t>(words_ - 1), 11);
      Put(0, 2);  // fscod
      const std::uint32_t numblkscod = blocks_ == 1 ? 0 : blocks_ == 2 ? 1 : blocks_ == 3 ? 2 : 3;
      Put(numblkscod, 2);
      Put(static_cast<std::uint32_t>(s_.acmod), 3);
      Put(0, 1);   // lfeon
      Put(16, 5);  // bsid
      Put(27, 5);  // dialnorm
      Put(0, 1);   // compre
      if (s_.acmod == 0) Put(27 << 1, 6);
      Put(0, 2);  // mixmdate, infomdate
      if (blocks_ != 6 && s_.strmtyp == 0) Put(0, 1);  // convsync
      Put(0, 1);  // addbsie
      return;
    }
    Put(0, 16);            // crc1, filled in at the end
    Put(0, 2);             // fscod
    Put(36, 6);            // frmsizecod: 640 kbit/s
    Put(8, 5);             // bsid
    Put(0, 3);             // bsmod
    Put(static_cast<std::uint32_t>(s_.acmod), 3);
    if ((s_.acmod & 1) && s_.acmod != 1) Put(0, 2);
    if (s_.acmod & 4) Put(0, 2);
    if (s_.acmod == 2) Put(0, 2);
    Put(0, 1);  // lfeon
    for (int p = 0; p < (s_.acmod == 0 ? 2 : 1); ++p) Put(27 << 3, 8);  // dialnorm and three absent options
    Put(0, 2);  // copyrightb, origbs
    Put(0, 3);  // timecod1e, timecod2e, addbsie
  }

  void AudioFrame() {
    if (blocks_ == 6) {
      Put(1, 1);  // expstre
      Put(s_.aht, 1);
    }
    Put(0, 2);  // snroffststr: one offset set per frame
    Put(0, 1);  // transproce
    Put(1, 1);  // blkswe
    Put(1, 1);  // dithflage
    Put(1, 1);  // bamode
    Put(s_.fast_gain_change, 1);
    Put(s_.delta_alloc, 1);
    Put(s_.skip_field, 1);
    Put(s_.spx_atten, 1);
    if (s_.acmod >= 2) {
      Put(s_.coupling, 1);                        // cplinu of block 0
      for (int blk = 1; blk < blocks_; ++blk) Put(0, 1);  // cplstre
    }
    for (int blk = 0; blk < blocks_; ++blk) {
      if (s_.coupling) Put(blk == 0 ? 1 : 0, 2);
      for (int ch = 0; ch < nfchans_; ++ch) Put(static_cast<std::uint32_t>(Strategy(blk, ch)), 2);
    }
    if (s_.strmtyp == 0 && blocks_ == 6) {
      for (int ch = 0; ch < nfchans_; ++ch) Put(0, 5);  // convexpstr
    } else if (s_.strmtyp == 0) {
      Put(0, 1);  // convexpstre
    }
    if (s_.aht) {
      if (s_.coupling) Put(1, 1);  // cplahtinu: the coupling channel too
      for (int ch = 0; ch < nfchans_; ++ch) Put(1, 1);  // chahtinu
    }
    Put(static_cast<std::uint32_t>(s_.csnroffst), 6);
    Put(static_cast<std::uint32_t>(s_.fsnroffst), 4);
    if (s_.spx_atten) {
      for (int ch = 0; ch < nfchans_; ++ch) {
        Put(1, 1);
        Put(Rand(32), 5);
      }
    }
    if (blocks_ > 1) {
      Put(1, 1);  // blkstrtinfoe, then the block start positions (not used)
      const int bits = (blocks_ - 1) * (4 + static_cast<int>(floor_log2(static_cast<std::uint32_t>(words_ - 1)) + 1));
      for (int i = 0; i < bits; ++i) Put(0, 1);
    }
    for (int ch = 0; ch < nfchans_; ++ch) fgain_[idx(ch)] = 4;
    fgain_[kCpl] = 4;
  }

  void Exponents(std::size_t slot, int absexp, int first, int end, int grpsize) {
    // A random walk of differential exponents kept within 0..18.
    const int ngrps = (end - first) / (3 * grpsize);
    std::int32_t e = absexp;
    int bin = first;
    for (int g = 0; g < ngrps; ++g) {
      std::array<int, 3> d{};
      for (int& step : d) {
        step = static_cast<int>(Rand(5)) - 2;
        if (e + step < 0 || e + step > 18) step = -step;
        e += step;
        for (int k = 0; k < grpsize && bin < 256; ++k) exps_[slot][idx(bin++)] = e;
      }
      int value = (d[0] + 2) * 25 + (d[1] + 2) * 5 + (d[2] + 2);
      if (Fault(Fault::kBadExponentGroup) && slot == 0 && g == 3) value = 125;
      Put(static_cast<std::uint32_t>(value), 7);
    }
  }

  void Block(int blk) {
    const bool first = blk == 0;
    for (int ch = 0; ch < nfchans_; ++ch) Put(s_.blksw && (blk == 1 || blk == 4), 1);
    for (int ch = 0; ch < nfchans_; ++ch) Put(s_.dither, 1);
    if (first) {
      Put(1, 1);
      Put(Rand(256), 8);  // dynrng: parsed, never applied
    } else {
      Put(0, 1);
    }
    if (s_.acmod == 0) Put(0, 1);

    bool cplstre = false;
    if (!s_.eac3) {
      cplstre = first && !Fault(Fault::kNoCplstreInBlock0);
      Put(cplstre, 1);
      if (cplstre) Put(s_.coupling, 1);
    } else {
      cplstre = first;
      SpectralExtension(blk);
    }
    if (cplstre && s_.coupling) CouplingStrategy();
    if (s_.coupling) CouplingCoordinates(blk);
    if (s_.acmod == 2) Rematrixing(blk);

    if (!s_.eac3) {
      if (s_.coupling) Put(first ? 1 : 0, 2);
      for (int ch = 0; ch < nfchans_; ++ch) Put(static_cast<std::uint32_t>(Strategy(blk, ch)), 2);
    }
    for (int ch = 0; ch < nfchans_; ++ch) {
      if (Strategy(blk, ch) == 0) continue;
      if (s_.coupling) {
        endmant_[idx(ch)] = cpl_start_;
      } else if (s_.spx) {
        endmant_[idx(ch)] = spx_begin_;
      } else {
        Put(static_cast<std::uint32_t>(Fault(Fault::kChbwcodAbove60) ? 61 : s_.chbwcod), 6);
        endmant_[idx(ch)] = 3 * s_.chbwcod + 73;
      }
    }
    if (s_.coupling && first) {
      const int absexp = 2 + static_cast<int>(Rand(4));
      Put(static_cast<std::uint32_t>(absexp), 4);
      Exponents(kCpl, absexp * 2, cpl_start_, cpl_end_, 1);
    }
    for (int ch = 0; ch < nfchans_; ++ch) {
      const int strategy = Strategy(blk, ch);
      if (strategy == 0) continue;
      const int absexp = 1 + static_cast<int>(Rand(4));
      Put(static_cast<std::uint32_t>(absexp), 4);
      exps_[idx(ch)][0] = absexp;
      const int grpsize = 1 << (strategy - 1);
      const int end = endmant_[idx(ch)];
      const int ngrps = grpsize == 1 ? (end - 1) / 3 : (end + 2) / 6;
      Exponents(idx(ch), absexp, 1, 1 + ngrps * 3 * grpsize, grpsize);
      Put(0, 2);  // gainrng
    }

    // Bit allocation parameters.
    const bool baie = first && !Fault(Fault::kNoBaieInBlock0);
    Put(baie, 1);
    if (baie) {
      Put(2, 2);
      Put(1, 2);
      Put(1, 2);
      Put(2, 2);
      Put(static_cast<std::uint32_t>(s_.floorcod), 3);
    }
    if (!s_.eac3) {
      const bool snroffste = first && !Fault(Fault::kNoSnrOffsetInBlock0);
      Put(snroffste, 1);
      if (snroffste) {
        Put(static_cast<std::uint32_t>(s_.csnroffst), 6);
        if (s_.coupling) Put(static_cast<std::uint32_t>(s_.fsnroffst << 3 | 4), 7);
        for (int ch = 0; ch < nfchans_; ++ch) Put(static_cast<std::uint32_t>(s_.fsnroffst << 3 | 4), 7);
      }
    }
    if (s_.eac3 && s_.fast_gain_change) {
      const bool change = blk == 2;
      Put(change, 1);
      if (change) {
        if (s_.coupling) Put(static_cast<std::uint32_t>(fgain_[kCpl] = static_cast<int>(Rand(4))), 3);
        for (int ch = 0; ch < nfchans_; ++ch) Put(static_cast<std::uint32_t>(fgain_[idx(ch)] = static_cast<int>(Rand(4))), 3);
      }
    }
    if (s_.eac3 && s_.strmtyp == 0) Put(0, 1);  // convsnroffste
    if (s_.coupling) {
      bool leak = first;
      if (s_.eac3) {
        if (!first) Put(0, 1);
      } else {
        leak = first && !Fault(Fault::kNoLeakInBlock0);
        Put(leak, 1);
      }
      if (leak) {
        fleak_ = static_cast<int>(Rand(8));
        sleak_ = static_cast<int>(Rand(8));
        Put(static_cast<std::uint32_t>(fleak_), 3);
        Put(static_cast<std::uint32_t>(sleak_), 3);
      }
    }
    DeltaAllocationFields(blk);
    if (s_.skip_field || !s_.eac3) {
      const bool skip = s_.skip_field && blk == 2;
      Put(skip, 1);
      if (skip) {
        Put(3, 9);
        Put(Rand(1u << 24), 24);
      }
    }
    Allocate();
    Mantissas(blk);
  }

  void SpectralExtension(int blk) {
    if (blk > 0) {
      Put(0, 1);  // spxstre
    } else {
      Put(s_.spx, 1);  // spxinu
      if (s_.spx) {
        if (s_.acmod != 1) {
          for (int ch = 0; ch < nfchans_; ++ch) Put(1, 1);
        }
        // Copy from bin 25 to sub-bands 5 .. 13 (bins 85 .. 181). The faulty
        // edges keep the rest of the frame well formed, so that only the
        // edge rule can reject them.
        int strtf = 0;
        int begin = 5;
        int end = 13;
        if (Fault(Fault::kBadSpxBands)) begin = end = 9;
        if (Fault(Fault::kSpxCopyAtBegin)) strtf = begin = 2;
        Put(static_cast<std::uint32_t>(strtf), 2);
        Put(static_cast<std::uint32_t>(begin < 8 ? begin - 2 : (begin + 3) / 2), 3);  // spxbegf
        Put(static_cast<std::uint32_t>(end < 8 ? end - 5 : (end - 3) / 2), 3);        // spxendf
        Put(0, 1);  // default band structure
        spx_begin_ = 25 + 12 * begin;
        spx_begin_subbnd_ = begin;
        spx_bands_ = 1;
        for (int sb = begin + 1; sb < end; ++sb) spx_bands_ += eac3::kDefaultSpxBandStruct[idx(sb)] ? 0 : 1;
      }
    }
    if (!s_.spx) return;
    for (int ch = 0; ch < nfchans_; ++ch) {
      const bool fresh = blk == 0 || blk == 3;
      if (blk > 0) Put(fresh, 1);  // spxcoe
      if (!fresh) continue;
      Put(static_cast<std::uint32_t>(s_.spx_blend), 5);
      Put(s_.spx_master < 0 ? Rand(4) : static_cast<std::uint32_t>(s_.spx_master), 2);  // mstrspxco
      for (int bnd = 0; bnd < spx_bands_; ++bnd) {
        Put(Rand(6), 4);  // spxcoexp
        Put(Rand(4), 2);  // spxcomant
      }
    }
  }

  void CouplingStrategy() {
    if (s_.eac3) Put(Fault(Fault::kEnhancedCoupling), 1);
    if (!(s_.eac3 && s_.acmod == 2)) {
      for (int ch = 0; ch < nfchans_; ++ch) Put(1, 1);
    }
    if (s_.acmod == 2) Put(s_.phase_flags, 1);
    const int end = (s_.eac3 && s_.spx) ? spx_begin_subbnd_ - 1 : 13;
    // At its end the range is empty but otherwise well formed: only the
    // band-edge rule can reject it.
    // Past it, the rest is written as for an empty range.
    const bool at_end = Fault(Fault::kCouplingBeginAtEnd) || Fault(Fault::kCouplingBeginPastEnd);
    const int cplbegf = at_end ? end : 2;
    cplbegf_ = cplbegf;
    Put(Fault(Fault::kCouplingBeginPastEnd) ? 15u : static_cast<std::uint32_t>(cplbegf), 4);
    if (!(s_.eac3 && s_.spx)) Put(static_cast<std::uint32_t>(end - 3), 4);
    cpl_start_ = 12 * cplbegf + 37;
    cpl_end_ = 12 * end + 37;
    if (s_.eac3) Put(1, 1);  // cplbndstrce
    cpl_bands_ = 1;
    for (int sb = cplbegf + 1; sb < end; ++sb) {
      const std::uint32_t merge = Rand(2);
      Put(merge, 1);
      cpl_bands_ += merge ? 0 : 1;
    }
  }

  void CouplingCoordinates(int blk) {
    bool any = false;
    for (int ch = 0; ch < nfchans_; ++ch) {
      bool fresh = blk == 0 || blk == 3;
      if (s_.eac3 && blk == 0) {
        // implicit for the first coordinates of an E-AC-3 frame
      } else {
        if (!s_.eac3 && blk == 0 && Fault(Fault::kNoCoordsInBlock0)) fresh = false;
        Put(fresh, 1);
      }
      if (!fresh) continue;
      any = true;
      Put(Rand(4), 2);
      for (int bnd = 0; bnd < cpl_bands_; ++bnd) Put(Rand(256), 8);
    }
    if (s_.acmod == 2 && s_.phase_flags && any) {
      for (int bnd = 0; bnd < cpl_bands_; ++bnd) Put(Rand(2), 1);
    }
  }

  void Rematrixing(int blk) {
    bool rematstr = blk == 0 || blk == 3;
    if (!(s_.eac3 && blk == 0)) {
      if (!s_.eac3 && blk == 0 && Fault(Fault::kNoRematstrInBlock0)) rematstr = false;
      Put(rematstr, 1);
    }
    if (!rematstr) return;
    int bands = 4;
    if (s_.coupling) bands = cplbegf_ == 0 ? 2 : cplbegf_ <= 2 ? 3 : 4;
    else if (s_.eac3 && s_.spx && spx_begin_subbnd_ <= 3) bands = 3;
    for (int b = 0; b < bands; ++b) Put(Rand(2), 1);
  }

  void DeltaAllocationFields(int blk) {
    if (s_.eac3 && !s_.delta_alloc) return;
    const bool send = s_.delta_alloc && (blk == 0 || blk == 3);
    Put(send, 1);
    if (!send) return;
    const auto code = [&](std::size_t slot, int c) {
      Put(static_cast<std::uint32_t>(c), 2);
      dba_[slot].mode = c;
    };
    if (blk == 0) {
      const int ch0 = Fault(Fault::kDeltaCode3) ? 3 : Fault(Fault::kDeltaReuseFirst) ? 0 : 1;
      if (s_.coupling) code(kCpl, 1);
      for (int ch = 0; ch < nfchans_; ++ch) code(idx(ch), ch == 0 ? ch0 : 1);
    } else {
      if (s_.coupling) code(kCpl, 0);
      // After a code 3 (which nothing may reuse) the rest of the frame is
      // well formed: only that code can reject it.
      for (int ch = 0; ch < nfchans_; ++ch) code(idx(ch), ch == 0 && !Fault(Fault::kDeltaCode3) ? 0 : 2);
    }
    const auto segments = [&](std::size_t slot) {
      DeltaAllocation& d = dba_[slot];
      if (d.mode != 1) return;
      d.nseg = 2;
      Put(1, 3);
      for (int seg = 0; seg < 2; ++seg) {
        d.offset[idx(seg)] = static_cast<std::uint8_t>(3 + Rand(10));
        d.length[idx(seg)] = static_cast<std::uint8_t>(1 + Rand(8));
        d.ba[idx(seg)] = static_cast<std::uint8_t>(Rand(8));
        Put(d.offset[idx(seg)], 5);
        Put(d.length[idx(seg)], 4);
        Put(d.ba[idx(seg)], 3);
      }
    };
    if (s_.coupling) segments(kCpl);
    for (int ch = 0; ch < nfchans_; ++ch) segments(idx(ch));
  }

  // The standard's allocation for every channel, as a decoder must find it.
  void Allocate() {
    const BitAllocParams params{kSlowDecay[2], kFastDecay[1], kSlowGain[1], kDbPerBit[2], kFloor[idx(s_.floorcod)]};
    const int snroffset = ((s_.csnroffst - 15) * 16 + s_.fsnroffst) * 4;
    const auto run = [&](std::size_t slot, int start, int end, int fastleak, int slowleak) {
      MaskInput in{start, end, kFastGain[idx(fgain_[slot])], fastleak, slowleak};
      compute_mask(exps_[slot], in, params, mask_);
      apply_delta(dba_[slot], mask_.mask);
      compute_bap(mask_, start, end, snroffset, params.floor, s_.aht ? eac3::hebaptab : baptab,
                  bap_[slot]);
    };
    if (s_.coupling) run(kCpl, cpl_start_, cpl_end_, fleak_ * 256 + 768, sleak_ * 256 + 768);
    for (int ch = 0; ch < nfchans_; ++ch) run(idx(ch), 0, endmant_[idx(ch)], 0, 0);
    if (s_.csnroffst == 0 && s_.fsnroffst == 0) {
      for (auto& b : bap_) b.fill(0);
    }
  }

  void Mantissa(int bap) {
    out_.mantissa_bits -= static_cast<int>(w_.count());
    const bool corrupt = Fault(Fault::kBadMantissaCode) && !corrupted_ && bap >= 1 && bap <= 5;
    if (corrupt) corrupted_ = true;
    switch (bap) {
      case 0: break;
      case 1:
        if (pending1_-- == 0) {
          Put(corrupt ? 27 : Rand(27), 5);
          pending1_ = 2;
        }
        break;
      case 2:
        if (pending2_-- == 0) {
          Put(corrupt ? 125 : Rand(125), 7);
          pending2_ = 2;
        }
        break;
      case 3: Put(corrupt ? 7 : Rand(7), 3); break;
      case 4:
        if (pending4_-- == 0) {
          Put(corrupt ? 121 : Rand(121), 7);
          pending4_ = 1;
        }
        break;
      case 5: Put(corrupt ? 15 : Rand(15), 4); break;
      default: Put(Rand(1u << kMantissaBits[idx(bap)]), kMantissaBits[idx(bap)]); break;
    }
    out_.mantissa_bits += static_cast<int>(w_.count());
  }

  void HybridTransform(std::size_t slot, int end, int start = 0) {
    Put(static_cast<std::uint32_t>(s_.gaqmod), 2);
    const int endbap = s_.gaqmod < 2 ? 12 : 17;
    std::array<int, 256> gain{};
    std::vector<int> gain_bins;
    for (int bin = start; bin < end; ++bin) {
      const int h = bap_[slot][idx(bin)];
      if (h > 7 && h < endbap) gain_bins.push_back(bin);
    }
    if (s_.gaqmod == 1 || s_.gaqmod == 2) {
      for (const int bin : gain_bins) {
        const std::uint32_t b = Rand(2);
        Put(b, 1);
        gain[idx(bin)] = static_cast<int>(b) << (s_.gaqmod - 1);
      }
    } else if (s_.gaqmod == 3) {
      for (std::size_t i = 0; i < gain_bins.size(); i += 3) {
        std::uint32_t code = Rand(27);
        if (Fault(Fault::kBadGainTriplet) && i == 0) code = 27;
        Put(code, 5);
        const std::array<int, 3> digits = {static_cast<int>(code / 9), static_cast<int>(code % 9 / 3), static_cast<int>(code % 3)};
        for (std::size_t k = 0; k < 3 && i + k < gain_bins.size(); ++k) gain[idx(gain_bins[i + k])] = digits[k];
      }
    }
    for (int bin = start; bin < end; ++bin) {
      const int h = bap_[slot][idx(bin)];
      ++out_.hebap_bins[idx(h)];
      if (h == 0) continue;
      const int w = eac3::kHebapBits[idx(h)];
      if (h <= 7) {
        Put(Rand(1u << w), w);
        continue;
      }
      const int g = gain[idx(bin)];
      for (int blk = 0; blk < 6; ++blk) {
        if (g == 0) {
          Put(Rand(1u << w), w);
          continue;
        }
        const int bits = w - g;
        const std::uint32_t escape = 1u << (bits - 1);
        if (Rand(4) == 0) {
          ++out_.gaq_escapes;
          Put(escape, bits);
          Put(Rand(1u << (w + g - 2)), w + g - 2);
        } else {
          std::uint32_t code = Rand(1u << bits);
          if (code == escape) code = 0;
          Put(code, bits);
        }
      }
    }
  }

  void Mantissas(int blk) {
    pending1_ = pending2_ = pending4_ = 0;
    bool coupling_done = false;
    for (int ch = 0; ch < nfchans_; ++ch) {
      if (s_.aht) {
        if (blk == 0) HybridTransform(idx(ch), endmant_[idx(ch)]);
      } else {
        for (int bin = 0; bin < endmant_[idx(ch)]; ++bin) Mantissa(bap_[idx(ch)][idx(bin)]);
      }
      if (s_.coupling && !coupling_done) {
        coupling_done = true;
        if (!s_.aht) {
          for (int bin = cpl_start_; bin < cpl_end_; ++bin) Mantissa(bap_[kCpl][idx(bin)]);
        } else if (blk == 0) {
          HybridTransform(kCpl, cpl_end_, cpl_start_);
        }
      }
    }
  }

  SyntheticRecipe s_;
  std::mt19937 rng_;
  BitWriter w_;
  SyntheticFrame out_;
  int nfchans_ = 0;
  int blocks_ = 6;
  int words_ = 0;
  std::array<std::array<std::int32_t, 256>, kSlots> exps_{};
  std::array<std::array<std::uint8_t, 256>, kSlots> bap_{};
  std::array<int, kSlots> endmant_{};
  std::array<int, kSlots> fgain_{4, 4, 4, 4, 4, 4, 4};
  std::array<DeltaAllocation, kSlots> dba_{};
  MaskResult mask_;
  int cpl_start_ = 0;
  int cpl_end_ = 0;
  int cpl_bands_ = 0;
  int fleak_ = 0;
  int sleak_ = 0;
  int cplbegf_ = 0;
  int spx_begin_ = 0;
  int spx_begin_subbnd_ = 0;
  int spx_bands_ = 0;
  int pending1_ = 0;
  int pending2_ = 0;
  int pending4_ = 0;
  bool corrupted_ = false;
};

}  // namespace

SyntheticFrame BuildFrame(const SyntheticRecipe& recipe) { return Builder(recipe).Build(); }

}  // namespace kelvor::test
