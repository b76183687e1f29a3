#include "ac3dec/syncframe.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>

namespace kelvor {
namespace {

TEST(Ac3SyncWord, FoundOnlyWhereBothBytesAreInside) {
  // 0B alone at the end, 77 alone at the start, and the reversed pair: none is a sync word.
  const std::array<std::uint8_t, 6> near_misses{0x77, 0x77, 0x0B, 0x00, 0x0B, 0x0B};
  const std::span<const std::uint8_t> bytes{near_misses};
  EXPECT_EQ(find_sync_word(bytes), bytes.size());
  EXPECT_FALSE(sync_word_at(bytes, 5));  // the last byte: its partner would lie outside
  EXPECT_FALSE(sync_word_at(bytes, 6));
  EXPECT_FALSE(sync_word_at(bytes, static_cast<std::size_t>(-1)));
  EXPECT_EQ(find_sync_word({}), 0u);
}

TEST(Ac3SyncWord, SearchStartsAtTheGivenOffsetAndReachesTheLastPair) {
  // 0B 0B 77: the word starts at the second 0B; a second word ends the buffer.
  const std::array<std::uint8_t, 7> bytes{0x0B, 0x0B, 0x77, 0x00, 0x12, 0x0B, 0x77};
  EXPECT_EQ(find_sync_word(bytes), 1u);
  EXPECT_TRUE(sync_word_at(bytes, 1));
  EXPECT_EQ(find_sync_word(bytes, 2), 5u);
  EXPECT_TRUE(sync_word_at(bytes, 5));
  EXPECT_EQ(find_sync_word(bytes, 6), bytes.size());
  EXPECT_EQ(find_sync_word(bytes, 100), bytes.size());
}

TEST(Ac3SyncWord, ASyncWordInsideDataIsNoFrameWhenItsHeaderIsUnusable) {
  // A sync word followed by a reserved frame size code (frmsizecod 38): found
  // by the search, refused by the header reader.
  const std::array<std::uint8_t, 8> false_sync{0x0B, 0x77, 0x00, 0x00, 38, 8 << 3, 0x00, 0x00};
  EXPECT_EQ(find_sync_word(false_sync), 0u);
  EXPECT_EQ(read_syncinfo(false_sync).length, 0u);
  // Too short to hold a header after the word.
  EXPECT_EQ(read_syncinfo(std::span<const std::uint8_t>{false_sync}.first(5)).length, 0u);
}

}  // namespace
}  // namespace kelvor
