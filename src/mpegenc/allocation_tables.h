#pragma once
// The four Layer II allocation tables (ISO/IEC 11172-3 Tables 3-B.2a to
// 3-B.2d) and the rule that picks one from the sample rate and the bit rate
// per channel. A row gives the width of a subband's allocation field and the
// quantisation class (index into kQuantClass) of allocation 1, 2, ...
#include <array>
#include <cstdint>

namespace kelvor::mpegenc {

inline constexpr int kMaxSubbands = 30;  // the largest sblimit of the four tables

struct AllocationRow {
  int nbal;
  int highest;  // highest allocation index
  std::array<std::int8_t, 16> classOf;  // index 0 unused
};

// Classes 0..16 are 3, 5, 7, 9, 15, 31, ... 65535 levels.
inline constexpr AllocationRow kRowLow = {4, 15, {-1, 0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
inline constexpr AllocationRow kRowMid = {4, 15, {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16}};
inline constexpr AllocationRow kRowHigh = {3, 7, {-1, 0, 1, 2, 3, 4, 5, 16}};
inline constexpr AllocationRow kRowTop = {2, 3, {-1, 0, 1, 16}};
// The low-rate tables: no 7 levels and nothing above 32767.
inline constexpr AllocationRow kRowNarrowLow = {4, 15, {-1, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
inline constexpr AllocationRow kRowNarrowHigh = {3, 7, {-1, 0, 1, 3, 4, 5, 6, 7}};

enum class AllocationTableId : std::uint8_t { kA, kB, kC, kD };

struct AllocationTable {
  AllocationTableId id;
  int sblimit;
  // Subbands [0, lowEnd) take `low`, [lowEnd, midEnd) `mid`, [midEnd,
  // highEnd) `high`, the rest up to sblimit `top`.
  int lowEnd, midEnd, highEnd;
  const AllocationRow* low;
  const AllocationRow* mid;
  const AllocationRow* high;
  const AllocationRow* top;

  constexpr const AllocationRow& rowOf(int sb) const {
    if (sb < lowEnd) return *low;
    if (sb < midEnd) return *mid;
    if (sb < highEnd) return *high;
    return *top;
  }
  // Bits of the allocation fields of a frame with `channels` channels.
  constexpr int fieldBits(int channels) const {
    int bits = 0;
    for (int sb = 0; sb < sblimit; ++sb) bits += channels * rowOf(sb).nbal;
    return bits;
  }
};

inline constexpr AllocationTable kTableA = {AllocationTableId::kA, 27, 3, 11, 23, &kRowLow, &kRowMid, &kRowHigh, &kRowTop};
inline constexpr AllocationTable kTableB = {AllocationTableId::kB, 30, 3, 11, 23, &kRowLow, &kRowMid, &kRowHigh, &kRowTop};
inline constexpr AllocationTable kTableC = {AllocationTableId::kC, 8, 2, 8, 8, &kRowNarrowLow, &kRowNarrowHigh, &kRowNarrowHigh, &kRowNarrowHigh};
inline constexpr AllocationTable kTableD = {AllocationTableId::kD, 12, 2, 12, 12, &kRowNarrowLow, &kRowNarrowHigh, &kRowNarrowHigh, &kRowNarrowHigh};

inline constexpr std::array<const AllocationTable*, 4> kAllocationTables = {&kTableA, &kTableB, &kTableC, &kTableD};

// The table for a sample rate (32000, 44100 or 48000) and a bit rate per
// channel in kbit/s: 48 kHz from 56 and every rate at 56..80 take A; 32 and
// 44.1 kHz from 96 take B; 48 and 44.1 kHz up to 48 take C; 32 kHz up to 48 D.
constexpr const AllocationTable& AllocationTableFor(int sampleRate, int kbpsPerChannel) {
  if ((sampleRate == 48000 && kbpsPerChannel >= 56) || (kbpsPerChannel >= 56 && kbpsPerChannel <= 80)) return kTableA;
  if (sampleRate != 48000 && kbpsPerChannel >= 96) return kTableB;
  if (sampleRate != 32000) return kTableC;
  return kTableD;
}

// The conversion's table (48 kHz, 384 kbit/s stereo).
constexpr const AllocationRow& AllocationRowOf(int sb) { return kTableA.rowOf(sb); }

}  // namespace kelvor::mpegenc
