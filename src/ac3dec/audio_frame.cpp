// The per-frame defaults and the E-AC-3 audfrm fields.
#include "ac3dec/ac3_math.h"
#include "ac3dec/audio_block.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

void start_frame(FrameState& fs) {
  // Bit-allocation parameters for frames that do not send them (bamode 0).
  fs.sdecay = kSlowDecay[2];
  fs.fdecay = kFastDecay[1];
  fs.sgain = kSlowGain[1];
  fs.dbknee = kDbPerBit[2];
  fs.floor = kFloor[7];
  fs.fgaincod.fill(4);
  fs.dithflag.fill(true);
  fs.blksw.fill(false);
  for (DeltaAllocation& d : fs.dba) d.mode = 2;
  // Only E-AC-3 has the "first coordinates" shortcuts and default banding.
  fs.first_cpl_coords.fill(fs.eac3);
  fs.first_spx_coords.fill(fs.eac3);
  fs.first_cpl_leak = fs.eac3;
  for (std::size_t i = 0; i < fs.cplbndstrc.size(); ++i) fs.cplbndstrc[i] = eac3::kDefaultCplBandStruct[i];
  for (std::size_t i = 0; i < fs.spxbndstrc.size(); ++i) fs.spxbndstrc[i] = eac3::kDefaultSpxBandStruct[i];
}

namespace {

// Number of blocks of a strategy array that carry new values.
template <typename Pred>
int count_blocks(const FrameState& fs, Pred fresh) {
  int n = 0;
  for (int blk = 0; blk < fs.num_blocks; ++blk) n += fresh(blk) ? 1 : 0;
  return n;
}

}  // namespace

bool parse_audfrm(BitReader& br, FrameState& fs) {
  const auto bit = [&br] { return br.read_bits(1) != 0; };
  if (fs.num_blocks == 6) {
    fs.expstre = bit();
    fs.ahte = bit();
  } else {
    fs.expstre = true;
    fs.ahte = false;
  }
  fs.snroffststr = static_cast<int>(br.read_bits(2));
  fs.transproce = bit();
  fs.blkswe = bit();
  fs.dithflage = bit();
  fs.bamode = bit();
  fs.frmfgaincode = bit();
  fs.dbaflde = bit();
  fs.skipflde = bit();
  fs.spxattene = bit();

  // Coupling strategy of every block.
  if (fs.acmod >= 2) {
    for (int blk = 0; blk < fs.num_blocks; ++blk) {
      const auto b = static_cast<std::size_t>(blk);
      fs.cplstre[b] = blk == 0 || bit();
      fs.cplinu_blk[b] = fs.cplstre[b] ? bit() : fs.cplinu_blk[b - 1];
    }
  }
  fs.ncplblks = count_blocks(fs, [&](int blk) { return fs.cplinu_blk[static_cast<std::size_t>(blk)]; });

  // Exponent strategies: frame-level combinations or per block.
  if (!fs.expstre) {
    if (fs.acmod >= 2 && fs.ncplblks > 0) {
      const auto& row = eac3::kFrameExpStrategy[br.read_bits(5)];
      for (int blk = 0; blk < 6; ++blk) fs.cplexpstr[static_cast<std::size_t>(blk)] = row[static_cast<std::size_t>(blk)];
    }
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      const auto& row = eac3::kFrameExpStrategy[br.read_bits(5)];
      for (int blk = 0; blk < 6; ++blk)
        fs.chexpstr[static_cast<std::size_t>(blk)][static_cast<std::size_t>(ch)] = row[static_cast<std::size_t>(blk)];
    }
  } else {
    for (int blk = 0; blk < fs.num_blocks; ++blk) {
      const auto b = static_cast<std::size_t>(blk);
      if (fs.cplinu_blk[b]) fs.cplexpstr[b] = static_cast<std::uint8_t>(br.read_bits(2));
      for (int ch = 0; ch < fs.nfchans; ++ch) fs.chexpstr[b][static_cast<std::size_t>(ch)] = static_cast<std::uint8_t>(br.read_bits(2));
    }
  }
  if (fs.lfeon) {
    for (int blk = 0; blk < fs.num_blocks; ++blk) fs.lfeexpstr[static_cast<std::size_t>(blk)] = static_cast<std::uint8_t>(br.read_bits(1));
  }

  // Converter exponent strategies (for an AC-3 re-encoder): skipped.
  if (fs.strmtyp == 0 && (fs.num_blocks == 6 || bit())) {
    for (int ch = 0; ch < fs.nfchans; ++ch) br.read_bits(5);
  }

  // Adaptive hybrid transform: possible only for a channel whose exponents
  // are sent once per frame.
  fs.ahtinu.fill(false);
  if (fs.ahte) {
    if (fs.acmod >= 2 && fs.ncplblks == 6) {
      const int n = count_blocks(fs, [&](int blk) {
        const auto b = static_cast<std::size_t>(blk);
        return fs.cplstre[b] || fs.cplexpstr[b] != 0;
      });
      fs.ahtinu[kCpl] = n == 1 && bit();
    }
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      const int n = count_blocks(fs, [&](int blk) {
        return fs.chexpstr[static_cast<std::size_t>(blk)][static_cast<std::size_t>(ch)] != 0;
      });
      fs.ahtinu[static_cast<std::size_t>(ch)] = n == 1 && bit();
    }
    if (fs.lfeon) {
      const int n = count_blocks(fs, [&](int blk) { return fs.lfeexpstr[static_cast<std::size_t>(blk)] != 0; });
      fs.ahtinu[kLfe] = n == 1 && bit();
    }
  }

  if (fs.snroffststr == 0) {
    fs.csnroffst = (static_cast<int>(br.read_bits(6)) - 15) * 16;
    fs.fsnroffst.fill(static_cast<int>(br.read_bits(4)));
  }
  if (fs.transproce) {
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      if (bit()) {
        br.read_bits(10);  // transprocloc
        br.read_bits(8);   // transproclen
      }
    }
  }
  if (fs.spxattene) {
    for (int ch = 0; ch < fs.nfchans; ++ch) {
      const auto c = static_cast<std::size_t>(ch);
      fs.chinspxatten[c] = bit();
      if (fs.chinspxatten[c]) fs.spxattencod[c] = static_cast<int>(br.read_bits(5));
    }
  }
  if (fs.num_blocks > 1 && bit()) {  // blkstrtinfoe
    const auto words = static_cast<std::uint32_t>(fs.frame_words);
    const unsigned ceil_log2 = words <= 1 ? 0 : floor_log2(words - 1) + 1;
    br.skip_bits_long(static_cast<unsigned>(fs.num_blocks - 1) * (4 + ceil_log2));
  }
  return true;
}

}  // namespace kelvor::ac3
