// The standard's tables and the model's tables: known entries, structure and
// the formulas they were printed from.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <iterator>
#include <utility>

#include "mpegenc/analysis_window.h"
#include "mpegenc/bit_allocation.h"
#include "mpegenc/filterbank.h"
#include "mpegenc/model_grid.h"
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

// The four allocation tables: their sizes, the classes their rows reach, and
// which one each sample rate and bit rate per channel takes.
TEST(MpegTables, AllocationTablesForEveryRate) {
  struct Expected {
    const AllocationTable* table;
    int sblimit;
    int stereoFieldBits;
    int topClass;  // of the first subband's highest allocation
    int lastRowTopClass;
  };
  const Expected expected[] = {{&kTableA, 27, 176, 16, 16}, {&kTableB, 30, 188, 16, 16},
                               {&kTableC, 8, 52, 15, 7}, {&kTableD, 12, 76, 15, 7}};
  for (const Expected& e : expected) {
    const AllocationTable& t = *e.table;
    SCOPED_TRACE(t.sblimit);
    EXPECT_EQ(t.sblimit, e.sblimit);
    EXPECT_EQ(t.fieldBits(2), e.stereoFieldBits);
    EXPECT_EQ(t.fieldBits(1), e.stereoFieldBits / 2);
    EXPECT_EQ(kAllocationTables[static_cast<std::size_t>(t.id)], &t);
    for (int sb = 0; sb < t.sblimit; ++sb) {
      const AllocationRow& row = t.rowOf(sb);
      EXPECT_EQ(row.highest, (1 << row.nbal) - 1) << sb;
      EXPECT_EQ(row.classOf[1], 0) << sb;  // every row starts at 3 levels
      for (int a = 2; a <= row.highest; ++a) {
        EXPECT_GT(row.classOf[static_cast<std::size_t>(a)], row.classOf[static_cast<std::size_t>(a - 1)]) << sb;
      }
    }
    EXPECT_EQ(t.rowOf(0).classOf[static_cast<std::size_t>(t.rowOf(0).highest)], e.topClass);
    const AllocationRow& last = t.rowOf(t.sblimit - 1);
    EXPECT_EQ(last.classOf[static_cast<std::size_t>(last.highest)], e.lastRowTopClass);
  }
  // The low-rate tables skip 7 levels.
  EXPECT_EQ(kTableC.rowOf(0).classOf[2], 1);
  EXPECT_EQ(kTableC.rowOf(0).classOf[3], 3);
  EXPECT_EQ(&kTableC.rowOf(7), &kTableD.rowOf(11));

  // Sample rate, then the table of 32, 48, 56, 64, 80, 96 ... 192 kbit/s per channel.
  const int perChannel[] = {32, 48, 56, 64, 80, 96, 112, 128, 160, 192};
  const std::pair<int, const char*> rules[] = {{48000, "CCAAAAAAAA"}, {44100, "CCAAABBBBB"}, {32000, "DDAAABBBBB"}};
  for (const auto& [rate, tables] : rules) {
    for (std::size_t i = 0; i < std::size(perChannel); ++i) {
      EXPECT_EQ(static_cast<char>('A' + static_cast<int>(AllocationTableFor(rate, perChannel[i]).id)), tables[i])
          << rate << " Hz, " << perChannel[i] << " kbit/s";
    }
  }
}

// The model's grid at 48 kHz is the printed table, and the formulas the 32
// and 44.1 kHz grids come from give that table back within its rounding.
TEST(MpegTables, ModelGridsComeFromThePrintedTablesFormulas) {
  for (std::size_t i = 0; i < kReducedIndices; ++i) {
    const double hz = kReducedIndex[i].line * 48000.0 / 1024.0;
    EXPECT_NEAR(CriticalBandRate(hz), kReducedIndexPrinted[i].bark, 0.001) << i;
    EXPECT_NEAR(ThresholdInQuietDb(hz), kReducedIndexPrinted[i].threshold, 0.01) << i;
    EXPECT_EQ(ModelGridFor(48000).bark[i], kReducedIndex[i].bark) << i;
    EXPECT_EQ(ModelGridFor(48000).threshold[i], kReducedIndex[i].threshold) << i;
  }
  for (std::size_t b = 0; b < kCriticalBandEdges.size(); ++b) EXPECT_EQ(ModelGridFor(48000).bandEdges[b], kCriticalBandEdges[b]);
  for (const int rate : {32000, 44100}) {
    SCOPED_TRACE(rate);
    const ModelGrid& g = ModelGridFor(rate);
    // A line sits lower in frequency than at 48 kHz: a lower critical band rate.
    for (std::size_t i = 1; i < kReducedIndices; ++i) {
      EXPECT_GT(g.bark[i], g.bark[i - 1]) << i;
      EXPECT_LT(g.bark[i], kReducedIndex[i].bark) << i;
    }
    EXPECT_NEAR(g.bark[kReducedIndices - 1] / 16777216.0, CriticalBandRate(432.0 * rate / 1024.0), 1e-6);
    // Bands above the grid's last line are empty (at 32 kHz the last one).
    for (std::size_t b = 1; b < g.bandEdges.size(); ++b) {
      EXPECT_TRUE(g.bandEdges[b] > g.bandEdges[b - 1] || g.bandEdges[b] == kCriticalBandEdges.back()) << b;
    }
    EXPECT_EQ(g.bandEdges.back(), kCriticalBandEdges.back());
  }
  // 1 kHz at 32 kHz is line 32: the same critical band as line 21 1/3 at 48 kHz.
  EXPECT_NEAR(ModelGridFor(32000).bark[31] / 16777216.0, 8.51, 0.01);
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
