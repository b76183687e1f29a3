// Scale factor indices and transmission patterns.
#include <gtest/gtest.h>

#include <array>

#include "mpegenc/scale_factors.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {
namespace {

TEST(MpegScaleFactors, IndexOfAPeak) {
  struct Case {
    Q24 peak;
    int index;
  };
  const Case cases[] = {
      {0, 62},                       // silence
      {1 << 24, 2},                  // exactly 1.0: 1.2599 is above it, 1.0 is not
      {(1 << 24) - 1, 3},
      {kScaleFactor[62] - 1, 62},
      {kScaleFactor[62], 61},
      {kScaleFactor[0] - 1, 0},
      {kScaleFactor[0], 0},          // 2.0 and above: clipped by the quantiser
      {0x7FFFFFFF, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ScaleFactorIndex(c.peak), c.index) << c.peak;
  // Around every entry, against the definition: the last entry above the peak.
  for (std::size_t i = 0; i < 63; ++i) {
    for (const Q24 peak : {kScaleFactor[i] - 1, kScaleFactor[i], kScaleFactor[i] + 1}) {
      int last = 0;
      while (last < 62 && kScaleFactor[static_cast<std::size_t>(last) + 1] > peak) ++last;
      EXPECT_EQ(ScaleFactorIndex(peak), last) << peak;
    }
  }
}

TEST(MpegScaleFactors, TransmissionPatterns) {
  struct Case {
    std::array<int, 3> s;
    std::array<int, 3> used;
    int scfsi;
    int sent;
  };
  const Case cases[] = {
      {{62, 62, 62}, {62, 62, 62}, 2, 1},   // silence: 111
      {{10, 12, 11}, {10, 10, 10}, 2, 1},   // 444: the larger scale factor of s0 and s2
      {{12, 10, 11}, {10, 10, 10}, 2, 1},   // classes 3, 1: 222
      {{20, 10, 5}, {20, 10, 5}, 0, 3},     // large steps both ways: 123
      {{20, 10, 11}, {20, 10, 10}, 3, 2},   // classes 4, 1: 122
      {{20, 10, 9}, {20, 9, 9}, 3, 2},      // classes 4, 3: 133
      {{9, 10, 20}, {9, 9, 20}, 1, 2},      // classes 1, 0: 113
      {{11, 11, 10}, {10, 10, 10}, 2, 1},   // classes 2, 3: 333
  };
  for (const Case& c : cases) {
    const ScaleChoice choice = ChooseTransmission(c.s[0], c.s[1], c.s[2]);
    EXPECT_EQ((std::array<int, 3>{choice.used[0], choice.used[1], choice.used[2]}), c.used) << c.s[0] << " " << c.s[1] << " " << c.s[2];
    EXPECT_EQ(choice.scfsi, c.scfsi);
    EXPECT_EQ(SentOf(choice).count, c.sent);
    // A pattern never quantises a part with a smaller scale factor than its own.
    for (std::size_t p = 0; p < 3; ++p) EXPECT_LE(choice.used[p], c.s[p]);
  }
}

}  // namespace
}  // namespace kelvor::mpegenc
