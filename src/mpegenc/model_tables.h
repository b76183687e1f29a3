#pragma once
// Tables of psychoacoustic model 1 for Layer II at 48 kHz (ISO/IEC 11172-3
// Annex D): the reduced frequency indices with their FFT lines, critical band
// rates and absolute thresholds as printed, and the forms the model uses.
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/q24.h"
#include "mpegenc/analysis_window.h"

namespace kelvor::mpegenc {

struct ReducedIndexPrinted {
  int line;          // FFT line of 1024 at 48 kHz
  double bark;       // critical band rate z
  double threshold;  // absolute threshold, dB on the standard's scale
};

inline constexpr std::size_t kReducedIndices = 126;

inline constexpr std::array<ReducedIndexPrinted, kReducedIndices> kReducedIndexPrinted = {{
    {1, 0.463, 42.10},    {2, 0.925, 24.17},    {3, 1.385, 17.47},    {4, 1.842, 13.87},
    {5, 2.295, 11.60},    {6, 2.742, 10.01},    {7, 3.184, 8.84},     {8, 3.618, 7.94},
    {9, 4.045, 7.22},     {10, 4.463, 6.62},    {11, 4.872, 6.12},    {12, 5.272, 5.70},
    {13, 5.661, 5.33},    {14, 6.041, 5.00},    {15, 6.411, 4.71},    {16, 6.770, 4.45},
    {17, 7.119, 4.21},    {18, 7.457, 4.00},    {19, 7.785, 3.79},    {20, 8.103, 3.61},
    {21, 8.410, 3.43},    {22, 8.708, 3.26},    {23, 8.996, 3.09},    {24, 9.275, 2.93},
    {25, 9.544, 2.78},    {26, 9.805, 2.63},    {27, 10.057, 2.47},   {28, 10.301, 2.32},
    {29, 10.537, 2.17},   {30, 10.765, 2.02},   {31, 10.986, 1.86},   {32, 11.199, 1.71},
    {33, 11.406, 1.55},   {34, 11.606, 1.38},   {35, 11.800, 1.21},   {36, 11.988, 1.04},
    {37, 12.170, 0.86},   {38, 12.347, 0.67},   {39, 12.518, 0.49},   {40, 12.684, 0.29},
    {41, 12.845, 0.09},   {42, 13.002, -0.11},  {43, 13.154, -0.32},  {44, 13.302, -0.54},
    {45, 13.446, -0.75},  {46, 13.586, -0.97},  {47, 13.723, -1.20},  {48, 13.855, -1.43},
    {50, 14.111, -1.88},  {52, 14.354, -2.34},  {54, 14.585, -2.79},  {56, 14.807, -3.22},
    {58, 15.018, -3.62},  {60, 15.221, -3.98},  {62, 15.415, -4.30},  {64, 15.602, -4.57},
    {66, 15.783, -4.77},  {68, 15.956, -4.91},  {70, 16.124, -4.98},  {72, 16.287, -4.97},
    {74, 16.445, -4.90},  {76, 16.598, -4.76},  {78, 16.746, -4.55},  {80, 16.891, -4.29},
    {82, 17.032, -3.99},  {84, 17.169, -3.64},  {86, 17.303, -3.26},  {88, 17.434, -2.86},
    {90, 17.563, -2.45},  {92, 17.688, -2.04},  {94, 17.811, -1.63},  {96, 17.932, -1.24},
    {100, 18.166, -0.51}, {104, 18.392, 0.12},  {108, 18.611, 0.64},  {112, 18.823, 1.06},
    {116, 19.028, 1.39},  {120, 19.226, 1.66},  {124, 19.419, 1.88},  {128, 19.606, 2.08},
    {132, 19.788, 2.27},  {136, 19.964, 2.46},  {140, 20.135, 2.65},  {144, 20.300, 2.86},
    {148, 20.461, 3.09},  {152, 20.616, 3.33},  {156, 20.766, 3.60},  {160, 20.912, 3.89},
    {164, 21.052, 4.20},  {168, 21.188, 4.54},  {172, 21.318, 4.91},  {176, 21.445, 5.31},
    {180, 21.567, 5.73},  {184, 21.684, 6.18},  {188, 21.797, 6.67},  {192, 21.906, 7.19},
    {200, 22.113, 8.33},  {208, 22.304, 9.63},  {216, 22.482, 11.08}, {224, 22.646, 12.71},
    {232, 22.799, 14.53}, {240, 22.941, 16.54}, {248, 23.072, 18.77}, {256, 23.195, 21.23},
    {264, 23.309, 23.94}, {272, 23.415, 26.90}, {280, 23.515, 30.14}, {288, 23.607, 33.67},
    {296, 23.694, 37.51}, {304, 23.775, 41.67}, {312, 23.852, 46.17}, {320, 23.923, 51.04},
    {328, 23.991, 56.29}, {336, 24.054, 61.94}, {344, 24.114, 68.00}, {352, 24.171, 68.00},
    {360, 24.224, 68.00}, {368, 24.275, 68.00}, {376, 24.322, 68.00}, {384, 24.368, 68.00},
    {392, 24.411, 68.00}, {400, 24.452, 68.00}, {408, 24.491, 68.00}, {416, 24.528, 68.00},
    {424, 24.564, 68.00}, {432, 24.597, 68.00},
}};

// Upper edges of the critical bands that gather the non-tonal maskers, as FFT
// lines: band 0 is lines 1..2, band b is edge[b - 1] .. edge[b] - 1.
inline constexpr std::array<int, 25> kCriticalBandEdges = {
    3, 5, 7, 9, 12, 14, 17, 20, 24, 27, 32, 37, 42, 49, 57, 69, 81, 97, 113, 137, 161, 193, 241, 329, 433};

// One level unit is a power ratio of 2: 10 log10(2) dB.
inline constexpr double kDbPerLevelUnit = 3.0102999566398120;
// Full scale 1.0 sits at 20 log10(32768) dB on the standard's scale.
inline constexpr double kFullScaleDb = 90.308998699194358;

struct ReducedIndex {
  int line;
  Q24 bark;       // critical band rate, Q24 Bark
  Q24 threshold;  // absolute threshold in the model's level unit
};

inline constexpr std::array<ReducedIndex, kReducedIndices> kReducedIndex = [] {
  std::array<ReducedIndex, kReducedIndices> t{};
  for (std::size_t i = 0; i < t.size(); ++i) {
    const auto& p = kReducedIndexPrinted[i];
    t[i] = {p.line, RoundToQ24(p.bark), RoundToQ24((p.threshold - kFullScaleDb) / kDbPerLevelUnit)};
  }
  return t;
}();

}  // namespace kelvor::mpegenc
