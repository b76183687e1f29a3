#pragma once
// Layer II facts (ISO/IEC 11172-3): scale factors (Table 3-B.1), the
// quantisation classes with their coefficients (3-C.5) and the scale factor
// transmission patterns (3-C.4); plus this encoder's own SNR per class and
// the sizes of the conversion's stream (48 kHz, 384 kbit/s stereo).
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/q24.h"
#include "mpegenc/allocation_tables.h"
#include "mpegenc/analysis_window.h"

namespace kelvor::mpegenc {

inline constexpr int kSubbands = 32;
inline constexpr int kCodedSubbands = 27;  // sblimit of the conversion's allocation table
inline constexpr int kChannels = 2;
inline constexpr int kSlots = 36;          // subband samples per subband per frame
inline constexpr int kFrameSamples = 1152;
inline constexpr std::size_t kFrameBytes = 1152;      // the conversion's frames
inline constexpr std::size_t kMaxFrameBytes = 1728;   // 384 kbit/s at 32 kHz
inline constexpr int kScaleFactorSilent = 62;  // the smallest non-zero scale factor

// 2.0 * 2^(-i/3) for i = 0..62, then 0 to end the table.
inline constexpr std::array<Q24, 64> kScaleFactor = [] {
  constexpr double kThirds[3] = {1.0, 0.79370052598409973738, 0.62996052494743658238};
  std::array<Q24, 64> t{};
  for (int i = 0; i < 63; ++i) {
    double v = 2.0 * kThirds[i % 3];
    for (int k = 0; k < i / 3; ++k) v *= 0.5;
    t[static_cast<std::size_t>(i)] = RoundToQ24(v);
  }
  return t;
}();

struct QuantClass {
  int levels;
  bool grouped;     // three samples share one codeword
  int codeBits;     // bits per codeword (per three samples when grouped)
  int frameBits;    // bits for the subband's 36 samples
  Q24 a;            // the coefficient A
  int shift;        // 25 - bits of one ungrouped code
  Q24 snr;          // this encoder's SNR, in the model's level unit
};

inline constexpr std::array<QuantClass, 17> kQuantClass = {{
    {3, true, 5, 60, 12582912, 23, 33606821},
    {5, true, 7, 84, 10485760, 22, 65764592},
    {7, false, 3, 108, 14680064, 22, 88113406},
    {9, true, 10, 120, 9437184, 21, 106059337},
    {15, false, 4, 144, 15728640, 21, 130971857},
    {31, false, 5, 180, 16252928, 20, 166194926},
    {63, false, 6, 216, 16515072, 19, 200582005},
    {127, false, 7, 252, 16646144, 18, 234523223},
    {255, false, 8, 288, 16711680, 17, 268241510},
    {511, false, 9, 324, 16744448, 16, 301904063},
    {1023, false, 10, 360, 16760832, 15, 335510885},
    {2047, false, 11, 396, 16769024, 14, 369061973},
    {4095, false, 12, 432, 16773120, 13, 402668794},
    {8191, false, 13, 468, 16775168, 12, 436219883},
    {16383, false, 14, 504, 16776192, 11, 469770971},
    {32767, false, 15, 540, 16776704, 10, 503322060},
    {65535, false, 16, 576, 16776960, 9, 536873149},
}};

// Bits of all allocation fields of a stereo frame of the conversion's table.
inline constexpr int kAllocationFieldBits = kTableA.fieldBits(kChannels);

// Scale factor transmission patterns: which part's index each part uses.
struct TransmissionPattern {
  std::uint8_t scfsi;
  std::array<std::uint8_t, 3> source;  // part whose index parts 0, 1, 2 take (3: the smaller of s0 and s2)
};

inline constexpr TransmissionPattern kPattern123 = {0, {0, 1, 2}};
inline constexpr TransmissionPattern kPattern122 = {3, {0, 1, 1}};
inline constexpr TransmissionPattern kPattern133 = {3, {0, 2, 2}};
inline constexpr TransmissionPattern kPattern113 = {1, {0, 0, 2}};
inline constexpr TransmissionPattern kPattern111 = {2, {0, 0, 0}};
inline constexpr TransmissionPattern kPattern222 = {2, {1, 1, 1}};
inline constexpr TransmissionPattern kPattern333 = {2, {2, 2, 2}};
inline constexpr TransmissionPattern kPattern444 = {2, {3, 3, 3}};

// Indexed by the classes of d1 = s0 - s1 and d2 = s1 - s2.
inline constexpr std::array<std::array<TransmissionPattern, 5>, 5> kPatternOfClasses = {{
    {kPattern123, kPattern122, kPattern122, kPattern133, kPattern123},
    {kPattern113, kPattern111, kPattern111, kPattern444, kPattern113},
    {kPattern111, kPattern111, kPattern111, kPattern333, kPattern113},
    {kPattern222, kPattern222, kPattern222, kPattern333, kPattern123},
    {kPattern123, kPattern122, kPattern122, kPattern133, kPattern123},
}};

// Scale factors sent for each scfsi value.
inline constexpr std::array<int, 4> kScaleFactorsSent = {3, 2, 1, 2};

}  // namespace kelvor::mpegenc
