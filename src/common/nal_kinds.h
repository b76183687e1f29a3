#pragma once
// What an H.264 or HEVC NAL unit is to the code that cuts access units and
// finds where decoding can start: its type byte mapped to a few kinds. The
// type numbers are the codecs' own (tests/common/nal_kinds_test.cpp).
#include <cstdint>

#include "common/codec.h"

namespace kelvor {

enum class NalKind : std::uint8_t {
  Other,
  Delimiter,     // access unit delimiter
  Slice,         // a picture's slice that needs earlier pictures
  Idr,           // a slice of a picture that starts decoding afresh
  RandomAccess,  // HEVC CRA or BLA: decoding may start, leading pictures may not decode
  Skipped,       // HEVC RASL: leans on pictures before the CRA or BLA it follows
  Sei,           // SEI before the pictures (H.264 SEI, HEVC prefix SEI)
  Sps,
  UnitStart,     // other parameter sets and NAL units that only begin an access unit
  Filler,
};

constexpr bool IsSliceKind(NalKind k) {
  return k == NalKind::Slice || k == NalKind::Idr || k == NalKind::RandomAccess || k == NalKind::Skipped;
}
// Output may start at a picture of this kind.
constexpr bool IsRandomAccessKind(NalKind k) { return k == NalKind::Idr || k == NalKind::RandomAccess; }

struct NalSyntax {
  bool hevc = false;
  std::uint32_t headerBytes = 1;  // NAL header length; the slice header follows it

  static constexpr NalSyntax Of(Codec c) { return c == Codec::Hevc ? NalSyntax{true, 2} : NalSyntax{}; }

  // `first` is the first byte after the start code prefix.
  constexpr NalKind Kind(std::uint8_t first) const { return hevc ? HevcKind((first >> 1) & 0x3F) : H264Kind(first & 0x1F); }

  static constexpr NalKind H264Kind(std::uint8_t type) {
    switch (type) {
      case 1: return NalKind::Slice;
      case 5: return NalKind::Idr;
      case 6: return NalKind::Sei;
      case 7: return NalKind::Sps;
      case 8: return NalKind::UnitStart;
      case 9: return NalKind::Delimiter;
      case 12: return NalKind::Filler;
      default: return type >= 14 && type <= 18 ? NalKind::UnitStart : NalKind::Other;
    }
  }

  static constexpr NalKind HevcKind(std::uint8_t type) {
    if (type == 8 || type == 9) return NalKind::Skipped;          // RASL_N, RASL_R
    if (type == 19 || type == 20) return NalKind::Idr;            // IDR_W_RADL, IDR_N_LP
    if (type >= 16 && type <= 21) return NalKind::RandomAccess;   // BLA_W_LP .. CRA_NUT
    if (type <= 9) return NalKind::Slice;                         // TRAIL, TSA, STSA, RADL
    switch (type) {
      case 33: return NalKind::Sps;
      case 35: return NalKind::Delimiter;
      case 38: return NalKind::Filler;
      case 39: return NalKind::Sei;                               // prefix SEI
      case 32:                                                    // VPS
      case 34: return NalKind::UnitStart;                         // PPS
      default: return (type >= 41 && type <= 44) || (type >= 48 && type <= 55) ? NalKind::UnitStart : NalKind::Other;
    }
  }
};

}  // namespace kelvor
