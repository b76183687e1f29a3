#pragma once
// The parse record of one syncframe: header values, the E-AC-3 frame-level
// fields and everything an audio block may keep for the next block of the
// same frame. It lives for one ac3_decode_frame call and is reset at the
// start of each frame.
#include <array>
#include <cstdint>

#include "common/q24.h"

namespace kelvor::ac3 {

inline constexpr int kMaxFbw = 5;     // full-bandwidth channels
inline constexpr int kCpl = 5;        // slot of the coupling channel in per-channel arrays
inline constexpr int kLfe = 6;        // slot of the LFE
inline constexpr int kSlots = 7;
inline constexpr int kMaxBlocks = 6;
inline constexpr int kMaxCplSubbands = 18;
inline constexpr int kMaxSpxSubbands = 17;

// Delta bit allocation of one channel: mode 0 reuse, 1 new, 2 none.
struct DeltaAllocation {
  int mode = 2;
  int nseg = 0;  // segments (deltnseg + 1)
  std::array<std::uint8_t, 8> offset{};
  std::array<std::uint8_t, 8> length{};
  std::array<std::uint8_t, 8> ba{};
};

struct FrameState {
  // Header (bit stream information).
  bool eac3 = false;
  int acmod = 0;
  int nfchans = 0;
  bool lfeon = false;
  int strmtyp = 2;
  int num_blocks = 6;
  int frame_words = 0;  // frame length in 16-bit words

  // Frame-level enables (E-AC-3 audfrm; fixed for AC-3).
  bool expstre = true;
  bool ahte = false;
  int snroffststr = 2;
  bool transproce = false;
  bool blkswe = true;
  bool dithflage = true;
  bool bamode = true;
  bool frmfgaincode = false;
  bool dbaflde = true;
  bool skipflde = true;
  bool spxattene = false;

  // Coupling and exponent strategies per block.
  std::array<bool, kMaxBlocks> cplstre{};
  std::array<bool, kMaxBlocks> cplinu_blk{};
  int ncplblks = 0;
  std::array<std::uint8_t, kMaxBlocks> cplexpstr{};
  std::array<std::array<std::uint8_t, kMaxFbw>, kMaxBlocks> chexpstr{};
  std::array<std::uint8_t, kMaxBlocks> lfeexpstr{};

  // Adaptive hybrid transform in use: per slot (channels, coupling, LFE).
  std::array<bool, kSlots> ahtinu{};

  std::array<bool, kMaxFbw> chinspxatten{};
  std::array<int, kMaxFbw> spxattencod{};

  // Block-level values that persist from block to block.
  std::array<bool, kMaxFbw> blksw{};
  std::array<bool, kMaxFbw> dithflag{};
  std::array<int, 2> dynrng{};  // codes of the dynamic range gains; not applied

  // Spectral extension.
  bool spxinu = false;
  std::array<bool, kMaxFbw> chinspx{};
  std::array<bool, kMaxFbw> first_spx_coords{};
  int spx_begin_subbnd = 0;
  int spx_end_subbnd = 0;
  int spx_copy_start = 0;  // bins
  int spx_begin = 0;
  int spx_end = 0;
  std::array<std::uint8_t, kMaxSpxSubbands> spxbndstrc{};
  int nspxbnds = 0;
  std::array<int, kMaxSpxSubbands> spx_band_size{};
  std::array<std::array<Q24, kMaxSpxSubbands>, kMaxFbw> spx_signal{};
  std::array<std::array<Q24, kMaxSpxSubbands>, kMaxFbw> spx_noise{};

  // Coupling.
  bool cplinu = false;
  std::array<bool, kMaxFbw> chincpl{};
  std::array<bool, kMaxFbw> first_cpl_coords{};
  std::array<bool, kMaxFbw> cplco_received{};
  bool first_cpl_leak = false;
  bool phsflginu = false;
  int cplbegf = 0;
  int cpl_end_subbnd = 0;
  int cpl_start = 0;  // bins
  int cpl_end = 0;
  std::array<std::uint8_t, kMaxCplSubbands> cplbndstrc{};
  int ncplbnds = 0;
  std::array<int, kMaxCplSubbands> cpl_band_end{};  // last bin + 1 of each band
  std::array<std::array<Q24, kMaxCplSubbands>, kMaxFbw> cplco{};
  std::array<bool, kMaxCplSubbands> phsflg{};

  // Rematrixing.
  int nrematbd = 0;
  std::array<bool, 4> rematflg{};

  // Exponents (slot order: channels 0..4, coupling, LFE) and end bins.
  std::array<std::uint8_t, kSlots> expstr{};  // this block's strategies
  std::array<std::array<std::int32_t, 256>, kSlots> exps{};
  std::array<int, kMaxFbw> endmant{};

  // Bit allocation parameters.
  int sdecay = 0;
  int fdecay = 0;
  int sgain = 0;
  int dbknee = 0;
  int floor = 0;
  int csnroffst = 0;  // stored as (csnroffst - 15) * 16
  std::array<int, kSlots> fsnroffst{};
  std::array<int, kSlots> fgaincod{};
  int cplfleak = 0;
  int cplsleak = 0;
  bool cplleak_received = false;
  std::array<DeltaAllocation, kMaxFbw + 1> dba{};  // channels 0..4 and coupling (kCpl)
  std::array<bool, kMaxFbw + 1> dba_received{};

  std::array<std::array<std::uint8_t, 256>, kSlots> bap{};
};

// Clears the record for a new frame.
void reset_frame_state(FrameState& fs);

}  // namespace kelvor::ac3
