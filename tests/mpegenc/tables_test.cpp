// The standard's tables and the model's tables: known entries, structure and
// the formulas they were printed from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>

#include "mpegenc/analysis_window.h"
#include "mpegenc/bit_allocation.h"
#include "mpegenc/filterbank.h"
#include "mpegenc/model_tables.h"
#include "mpegenc/psycho_model.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {
namespace {

TEST(MpegTables, AnalysisWindowIsTheSymmetricPrototype) {
  EXPECT_EQ(kAnalysisWindowPrinted[0], 0.0);
  EXPECT_EQ(kAnalysisWindowPrinted[256], 0.035780907);  // the peak
  EXPECT_EQ(kAnalysisWindowPrinted[69], 0.000108719);
  // Around the peak the window mirrors, with the sign flipped except at
  // multiples of 64 from the start.
  for (std::size_t k = 1; k < 256; ++k) {
    const double sign = (256 - k) % 64 == 0 ? 1.0 : -1.0;
    EXPECT_EQ(kAnalysisWindowPrinted[256 + k], sign * kAnalysisWindowPrinted[256 - k]) << k;
  }
  EXPECT_EQ(kAnalysisWindow[256], 600304);  // round(0.035780907 * 2^24)
}

TEST(MpegTables, ScaleFactorsFallByAThirdOfAnOctave) {
  EXPECT_EQ(kScaleFactor[0], 33554432);
  EXPECT_EQ(kScaleFactor[3], 1 << 24);
  EXPECT_EQ(kScaleFactor[63], 0);
  for (std::size_t i = 0; i < 63; ++i) {
    EXPECT_NEAR(kScaleFactor[i], 2.0 * std::exp2(-static_cast<double>(i) / 3.0) * 16777216.0, 0.5) << i;
  }
  EXPECT_NEAR(kScaleFactor[62] / 16777216.0, 0.000001201554, 3e-8);  // as printed
}

TEST(MpegTables, QuantisationClassesAgreeWithTheirLevels) {
  for (std::size_t c = 0; c < kQuantClass.size(); ++c) {
    const QuantClass& q = kQuantClass[c];
    const int n = 25 - q.shift;  // bits of one ungrouped code
    EXPECT_LT(q.levels, 1 << n) << c;
    EXPECT_GE(q.levels, 1 << (n - 1)) << c;
    EXPECT_EQ(q.frameBits, q.grouped ? 12 * q.codeBits : 36 * q.codeBits) << c;
    if (q.grouped) {
      EXPECT_GE(1 << q.codeBits, q.levels * q.levels * q.levels) << c;
    }
    // A = levels / 2^N.
    EXPECT_NEAR(q.a, static_cast<double>(q.levels) / (1 << n) * 16777216.0, 0.5) << c;
    if (c > 0) {
      EXPECT_GT(q.snr, kQuantClass[c - 1].snr) << c;
    }
  }
}

TEST(MpegTables, AllocationRowsFitTheirFields) {
  int fieldBits = 0;
  for (int sb = 0; sb < kCodedSubbands; ++sb) {
    const AllocationRow& row = AllocationRowOf(sb);
    EXPECT_EQ(row.highest, (1 << row.nbal) - 1) << sb;
    EXPECT_EQ(row.classOf[static_cast<std::size_t>(row.highest)], 16) << sb;  // every row ends in 65535 levels
    fieldBits += 2 * row.nbal;
  }
  EXPECT_EQ(fieldBits, 176);
  EXPECT_EQ(kAllocationBudget, 9008);
}

TEST(MpegTables, ModelTablesFor48kHz) {
  int line = 0;
  for (std::size_t i = 0; i < kReducedIndices; ++i) {
    const int step = line < 48 ? 1 : line < 96 ? 2 : line < 192 ? 4 : 8;
    EXPECT_EQ(kReducedIndex[i].line, line + step) << i;
    line = kReducedIndex[i].line;
    if (i > 0) {
      EXPECT_GT(kReducedIndex[i].bark, kReducedIndex[i - 1].bark) << i;
    }
  }
  EXPECT_EQ(line, 432);
  EXPECT_NEAR(kReducedIndex[0].threshold / 16777216.0 * kDbPerLevelUnit, 42.10 - 90.31, 0.01);
  EXPECT_EQ(kFftWindow[512], 26754);
  EXPECT_EQ(kFftWindow[0], 0);
}

TEST(MpegTables, MatrixingIsTheCosineItStandsFor) {
  for (int sb = 0; sb < kSubbands; ++sb) {
    for (int k = 0; k < 64; ++k) {
      const double m = std::cos((2 * sb + 1) * (k - 16) * M_PI / 64.0) * 16777216.0;
      EXPECT_NEAR(kMatrixing[static_cast<std::size_t>(sb)][static_cast<std::size_t>(k)], m, 0.5) << sb << " " << k;
    }
  }
}

}  // namespace
}  // namespace kelvor::mpegenc
