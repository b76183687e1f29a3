#include "app/logic/track_selection.h"

#include <gtest/gtest.h>

namespace kelvor {
namespace {

// The table a scan leaves for: row 0 file name, rows 1-2 MPEG audio,
// row 3 AC-3, row 4 " All audio tracks".
TrackTable ScannedTable(std::uint32_t privateCount) {
  TrackTable t;
  t.addAudio({0x101, 0xC0, Codec::MpegAudio});
  t.addAudio({0x102, 0xC1, Codec::MpegAudio});
  if (privateCount > 0) t.addAudio({0x103, 0xBD, Codec::Ac3});
  std::uint32_t row = 1;
  for (std::uint32_t pid : {0x101u, 0x102u}) t.trackChoices[t.trackChoiceCount++] = {row++, pid};
  if (privateCount > 0) t.trackChoices[t.trackChoiceCount++] = {row++, 0x103};
  t.trackChoices[t.trackChoiceCount++] = {row, kAllTracks};
  return t;
}

TEST(TrackSelection, TrackRowsEnableConversionAndTheCheckBoxOnlyForAc3) {
  TrackTable t = ScannedTable(1);
  auto e = ApplyTrackSelection(t, 1);
  EXPECT_TRUE(e.convertEnabled);
  EXPECT_FALSE(e.checkBoxEnabled);
  EXPECT_EQ(t.selectedAudioPid, 0x101u);
  EXPECT_FALSE(t.selectedIsPrivate);

  e = ApplyTrackSelection(t, 3);
  EXPECT_TRUE(e.convertEnabled && e.checkBoxEnabled);
  EXPECT_EQ(t.selectedAudioPid, 0x103u);
  EXPECT_TRUE(t.selectedIsPrivate);

  // "All audio tracks" includes the AC-3 track.
  e = ApplyTrackSelection(t, 4);
  EXPECT_TRUE(e.convertEnabled && e.checkBoxEnabled);
  EXPECT_EQ(t.selectedAudioPid, kAllTracks);
  EXPECT_TRUE(t.selectedIsPrivate);
}

TEST(TrackSelection, AllTracksWithoutAc3LeavesTheCheckBoxOff) {
  TrackTable t = ScannedTable(0);
  const auto e = ApplyTrackSelection(t, 3);
  EXPECT_TRUE(e.convertEnabled);
  EXPECT_FALSE(e.checkBoxEnabled);
  EXPECT_EQ(t.selectedAudioPid, kAllTracks);
  EXPECT_FALSE(t.selectedIsPrivate);
}

TEST(TrackSelection, RowsWithoutATrackDisableAndKeepTheChoice) {
  TrackTable t = ScannedTable(1);
  ApplyTrackSelection(t, 2);
  // The file-name row, a row past the list, no selection at all.
  for (int row : {0, 5, 100, -1}) {
    const auto e = ApplyTrackSelection(t, row);
    EXPECT_FALSE(e.convertEnabled) << row;
    EXPECT_FALSE(e.checkBoxEnabled) << row;
    EXPECT_EQ(t.selectedAudioPid, 0x102u) << row;
  }
}

TEST(TrackSelection, OnlyTheUsedPartOfTheMapCounts) {
  // A scan that found nothing ("No supported audio track" in row 1) leaves
  // stale entries of an earlier scan behind the count.
  TrackTable t = ScannedTable(1);
  t.trackChoiceCount = 0;
  t.audioCount = 0;
  EXPECT_FALSE(ApplyTrackSelection(t, 1).convertEnabled);
  // An out-of-range count from a damaged table is bounded.
  t = ScannedTable(1);
  t.trackChoiceCount = 1000;
  t.audioCount = 1000;
  EXPECT_TRUE(ApplyTrackSelection(t, 3).checkBoxEnabled);
}

}  // namespace
}  // namespace kelvor
