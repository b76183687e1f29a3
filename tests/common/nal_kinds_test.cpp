#include "common/nal_kinds.h"

#include <gtest/gtest.h>

namespace kelvor {
namespace {

// The NAL unit type tables of the two codecs, as the standards number them.
TEST(NalKinds, H264Types) {
  constexpr NalSyntax s = NalSyntax::Of(Codec::H264);
  EXPECT_EQ(s.headerBytes, 1u);
  EXPECT_EQ(s.Kind(0x41), NalKind::Slice);      // non-IDR slice, nal_ref_idc 2
  EXPECT_EQ(s.Kind(0x01), NalKind::Slice);
  EXPECT_EQ(s.Kind(0x65), NalKind::Idr);
  EXPECT_EQ(s.Kind(0x06), NalKind::Sei);
  EXPECT_EQ(s.Kind(0x67), NalKind::Sps);
  EXPECT_EQ(s.Kind(0x68), NalKind::UnitStart);  // PPS
  EXPECT_EQ(s.Kind(0x09), NalKind::Delimiter);
  EXPECT_EQ(s.Kind(0x0C), NalKind::Filler);
  for (unsigned t = 14; t <= 18; ++t) EXPECT_EQ(s.Kind(static_cast<std::uint8_t>(t)), NalKind::UnitStart) << t;
  for (const unsigned t : {2u, 3u, 4u, 10u, 11u, 13u, 19u, 20u, 31u}) {
    EXPECT_EQ(s.Kind(static_cast<std::uint8_t>(t)), NalKind::Other) << t;
  }
}

TEST(NalKinds, HevcTypes) {
  constexpr NalSyntax s = NalSyntax::Of(Codec::Hevc);
  EXPECT_EQ(s.headerBytes, 2u);
  auto kind = [&](unsigned type) { return s.Kind(static_cast<std::uint8_t>(type << 1)); };
  // TRAIL_N/R, TSA, STSA, RADL_N/R: pictures that need earlier ones.
  for (unsigned t = 0; t <= 7; ++t) EXPECT_EQ(kind(t), NalKind::Slice) << t;
  EXPECT_EQ(kind(8), NalKind::Skipped);  // RASL_N
  EXPECT_EQ(kind(9), NalKind::Skipped);  // RASL_R
  for (unsigned t = 10; t <= 15; ++t) EXPECT_EQ(kind(t), NalKind::Other) << t;  // reserved
  for (const unsigned t : {16u, 17u, 18u, 21u}) EXPECT_EQ(kind(t), NalKind::RandomAccess) << t;  // BLA, CRA
  EXPECT_EQ(kind(19), NalKind::Idr);
  EXPECT_EQ(kind(20), NalKind::Idr);
  EXPECT_EQ(kind(22), NalKind::Other);  // reserved IRAP
  EXPECT_EQ(kind(32), NalKind::UnitStart);  // VPS
  EXPECT_EQ(kind(33), NalKind::Sps);
  EXPECT_EQ(kind(34), NalKind::UnitStart);  // PPS
  EXPECT_EQ(kind(35), NalKind::Delimiter);
  EXPECT_EQ(kind(36), NalKind::Other);  // end of sequence
  EXPECT_EQ(kind(38), NalKind::Filler);
  EXPECT_EQ(kind(39), NalKind::Sei);    // prefix
  EXPECT_EQ(kind(40), NalKind::Other);  // suffix SEI: inside the access unit
  EXPECT_EQ(kind(41), NalKind::UnitStart);
  EXPECT_EQ(kind(47), NalKind::Other);
  EXPECT_EQ(kind(48), NalKind::UnitStart);
  EXPECT_EQ(kind(63), NalKind::Other);
  EXPECT_TRUE(IsRandomAccessKind(kind(21)) && IsSliceKind(kind(8)) && !IsRandomAccessKind(kind(8)));
}

}  // namespace
}  // namespace kelvor
