// The EBML writer's fields and elements, read back byte by byte, and the
// element id table's ids as EBML ids.
#include "matroska/ebml_writer.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <vector>

#include "matroska/matroska_ids.h"

namespace kelvor::mkv {
namespace {

std::vector<std::uint8_t> Bytes(const EbmlWriter& w) { return {w.written().begin(), w.written().end()}; }

// Reads one size field: its width and value (kUnknown for all ones).
struct Field {
  unsigned width = 0;
  std::uint64_t value = 0;
};
Field ReadSize(const std::uint8_t* p) {
  unsigned width = 1;
  while (width <= 8 && (p[0] & (0x80 >> (width - 1))) == 0) ++width;
  std::uint64_t v = p[0] & (0xFF >> width);
  for (unsigned i = 1; i < width; ++i) v = (v << 8) | p[i];
  return {width, v};
}

TEST(EbmlWriter, SizesTakeTheFewestBytesAndNeverTheUnknownPattern) {
  std::array<std::uint8_t, 64> buf{};
  EbmlWriter w(buf);
  w.Size(0);
  w.Size(126);  // 127 would be all ones in one byte
  w.Size(127);
  w.Size(16382);
  w.Size(16383);
  EXPECT_EQ(Bytes(w), (std::vector<std::uint8_t>{0x80, 0xFE, 0x40, 0x7F, 0x7F, 0xFE, 0x20, 0x3F, 0xFF}));
  // A fixed width keeps its room whatever the value.
  EbmlWriter v(buf);
  v.Size(5, 4);
  v.Size(kUnknownSizeValue8, 8);
  EXPECT_EQ(Bytes(v), (std::vector<std::uint8_t>{0x10, 0x00, 0x00, 0x05, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                 0xFF}));
}

TEST(EbmlWriter, ElementsCarryIdSizeAndBigEndianValue) {
  std::array<std::uint8_t, 64> buf{};
  EbmlWriter w(buf);
  w.Uint(id::kTimestampScale, 1000000);
  w.Uint(id::kTrackNumber, 0);
  w.Uint(id::kSeekPosition, 0x1234, 8);
  w.Float(id::kDuration, 2.0);
  w.String(id::kCodecId, "A_AC3");
  EXPECT_EQ(Bytes(w), (std::vector<std::uint8_t>{
                          0x2A, 0xD7, 0xB1, 0x83, 0x0F, 0x42, 0x40,  // three value bytes
                          0xD7, 0x81, 0x00,                          // zero still takes one byte
                          0x53, 0xAC, 0x88, 0, 0, 0, 0, 0, 0, 0x12, 0x34,
                          0x44, 0x89, 0x88, 0x40, 0, 0, 0, 0, 0, 0, 0,  // IEEE 754 double 2.0
                          0x86, 0x85, 'A', '_', 'A', 'C', '3'}));
}

TEST(EbmlWriter, MastersGetTheirSizeWhenTheyClose) {
  std::array<std::uint8_t, 64> buf{};
  EbmlWriter w(buf);
  const std::size_t outer = w.OpenMaster(id::kTrackEntry, 4);
  const std::size_t inner = w.OpenMaster(id::kAudio, 1);
  w.Uint(id::kChannels, 6);
  w.CloseMaster(inner, 1);
  w.CloseMaster(outer, 4);
  EXPECT_EQ(Bytes(w), (std::vector<std::uint8_t>{0xAE, 0x10, 0x00, 0x00, 0x05, 0xE1, 0x83, 0x9F, 0x81, 0x06}));
}

// Every Void is exactly as long as asked, so a reserved room is filled to
// the byte, including around the widths where the size field grows.
TEST(EbmlWriter, VoidFillsExactlyTheRoomItIsGiven) {
  std::vector<std::uint8_t> buf(20000);
  for (std::size_t total : {2u, 3u, 128u, 129u, 130u, 16384u, 16385u, 16386u, 16387u}) {
    EbmlWriter w(buf);
    w.Void(total);
    ASSERT_EQ(w.pos(), total);
    EXPECT_EQ(buf[0], 0xEC);
    const Field f = ReadSize(&buf[1]);
    EXPECT_EQ(1 + f.width + f.value, total) << total;
    EXPECT_NE(f.value, MaxSizeInWidth(f.width) + 1) << "the unknown-size pattern, total " << total;
  }
}

TEST(EbmlWriter, WritesPastTheEndAreCountedNotPerformed) {
  std::array<std::uint8_t, 4> buf{};
  std::array<std::uint8_t, 8> guard{};
  EbmlWriter w(buf);
  w.String(id::kDocType, "matroska");
  EXPECT_TRUE(w.overflowed());
  EXPECT_EQ(w.pos(), 11u);
  EXPECT_EQ(w.written().size(), 4u);
  EXPECT_EQ(guard, (std::array<std::uint8_t, 8>{}));
  EbmlWriter measure({});
  measure.Uint(id::kTimestamp, 70000);
  EXPECT_EQ(measure.pos(), 5u);
}

// The ids as the file holds them: the leading bits give the length, the
// value bits are not all ones (reserved) nor all zeros, and no id is
// named twice. A slip in a digit usually breaks one of these; the peers'
// readers catch the rest (MatroskaFiles).
TEST(ElementIds, AreWellFormedEbmlIdsAndDistinct) {
  const std::uint32_t ids[] = {
      id::kEbml, id::kEbmlVersion, id::kEbmlReadVersion, id::kEbmlMaxIdLength, id::kEbmlMaxSizeLength,
      id::kDocType, id::kDocTypeVersion, id::kDocTypeReadVersion, id::kVoid, id::kSegment, id::kSeekHead,
      id::kSeek, id::kSeekId, id::kSeekPosition, id::kInfo, id::kTimestampScale, id::kDuration, id::kMuxingApp,
      id::kWritingApp, id::kCluster, id::kTimestamp, id::kSimpleBlock, id::kTracks, id::kTrackEntry,
      id::kTrackNumber, id::kTrackUid, id::kTrackType, id::kFlagEnabled, id::kFlagDefault, id::kFlagForced,
      id::kFlagHearingImpaired, id::kFlagVisualImpaired, id::kFlagLacing, id::kDefaultDuration, id::kLanguage,
      id::kCodecId, id::kCodecPrivate, id::kVideo, id::kFlagInterlaced, id::kPixelWidth, id::kPixelHeight,
      id::kDisplayWidth, id::kDisplayHeight, id::kDisplayUnit, id::kAudio, id::kSamplingFrequency,
      id::kChannels, id::kCues, id::kCuePoint, id::kCueTime, id::kCueTrackPositions, id::kCueTrack,
      id::kCueClusterPosition, id::kCueRelativePosition, id::kChapters, id::kEditionEntry, id::kEditionUid,
      id::kChapterAtom, id::kChapterUid, id::kChapterTimeStart, id::kChapterDisplay, id::kChapString};
  std::set<std::uint32_t> seen;
  for (const std::uint32_t v : ids) {
    const unsigned width = IdWidth(v);
    const auto first = static_cast<std::uint8_t>(v >> (8 * (width - 1)));
    EXPECT_EQ(first & (0x80 >> (width - 1)), 0x80 >> (width - 1)) << std::hex << v;
    EXPECT_EQ(first & (0xFF << (8 - width + 1)) & 0xFF, 0) << std::hex << v;
    const std::uint64_t valueBits = v & ((std::uint64_t{1} << (7 * width)) - 1);
    EXPECT_NE(valueBits, (std::uint64_t{1} << (7 * width)) - 1) << std::hex << v;
    // All-zero value bits are reserved, except for ChapterDisplay, the one id
    // Matroska takes from that reserve.
    if (v != id::kChapterDisplay) {
      EXPECT_NE(valueBits, 0u) << std::hex << v;
    }
    EXPECT_TRUE(seen.insert(v).second) << std::hex << v;
  }
  // The four top-level ids every reader starts from.
  EXPECT_EQ(id::kEbml, 0x1A45DFA3u);
  EXPECT_EQ(id::kSegment, 0x18538067u);
  EXPECT_EQ(id::kCluster, 0x1F43B675u);
  EXPECT_EQ(id::kCues, 0x1C53BB6Bu);
}

}  // namespace
}  // namespace kelvor::mkv
