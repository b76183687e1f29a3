#pragma once
// Writes AC-3 and E-AC-3 syncframes with chosen coding tools and random but
// valid content, so that decoder paths no available encoder produces (the
// hybrid transform, spectral extension, 2- and 3-block frames, phase flags,
// delta bit allocation...) can be decoded here and by ffmpeg and compared,
// and so that each syntax fault can be planted on its own. Mantissas are
// written to the allocation the standard's bit allocation gives, so the
// frames parse only if both writer and reader agree on it.
#include <array>
#include <cstdint>
#include <vector>

namespace kelvor::test {

enum class Fault {
  kNone,
  kReuseInBlock0,        // exponent strategy reuse in block 0
  kChbwcodAbove60,
  kNoBaieInBlock0,
  kNoSnrOffsetInBlock0,  // AC-3
  kNoCplstreInBlock0,    // AC-3
  kNoRematstrInBlock0,   // AC-3
  kNoLeakInBlock0,       // AC-3 with coupling
  kNoCoordsInBlock0,     // AC-3 with coupling
  kEnhancedCoupling,     // E-AC-3 with coupling
  kDeltaCode3,
  kDeltaReuseFirst,
  kBadSpxBands,          // E-AC-3 with spectral extension
  kSpxCopyAtBegin,       // E-AC-3 with spectral extension: copy start = begin sub-band
  kCouplingBeginAtEnd,   // coupling: cplbegf equal to the end sub-band
  kCouplingBeginPastEnd, // coupling: cplbegf 15, past the end sub-band
  kBadExponentGroup,
  kBadMantissaCode,
  kBadGainTriplet,       // E-AC-3 hybrid transform with gaqmod 3
};

struct SyntheticRecipe {
  bool eac3 = true;
  int strmtyp = 0;     // E-AC-3: 0 independent, 1 a dependent substream
  int num_blocks = 6;  // 1, 2, 3 or 6 (E-AC-3)
  int acmod = 2;
  int chbwcod = 20;
  int csnroffst = 20;  // coarse SNR offset code
  int fsnroffst = 5;
  int floorcod = 4;
  bool dither = false;
  bool blksw = false;          // short blocks in blocks 1 and 4
  bool new_exponents = false;  // a second exponent set (D25) in block 3
  bool coupling = false;
  bool phase_flags = false;    // acmod 2 with coupling
  bool delta_alloc = false;
  bool skip_field = false;
  bool fast_gain_change = false;  // E-AC-3: new fast gains in block 2 only
  bool aht = false;               // E-AC-3, 6 blocks: every channel
  int gaqmod = 0;
  bool spx = false;               // E-AC-3
  bool spx_atten = false;
  int spx_blend = 31;             // spxblnd; 31 blends no noise below 31/32 of the end
  int spx_master = -1;            // mstrspxco; -1 random
  Fault fault = Fault::kNone;
  std::uint32_t seed = 1;
};

struct SyntheticFrame {
  std::vector<std::uint8_t> bytes;   // empty when the content did not fit
  std::array<int, 20> hebap_bins{};  // bins (times channels) per high-efficiency pointer
  int gaq_escapes = 0;
  int mantissa_bits = 0;
};

SyntheticFrame BuildFrame(const SyntheticRecipe& recipe);

}  // namespace kelvor::test
