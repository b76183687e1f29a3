// The PMT reader: video coding, audio languages, and refusal of sections
// that are damaged or not the one-section table.
#include <gtest/gtest.h>

#include <random>

#include "scan/pmt_parser.h"
#include "support/ts_builder.h"

namespace kelvor {
namespace {

using test::BuildPmtSection;
using test::PmtStream;

TEST(ParsePmt, ReadsH264AndTheLanguagesOfAudioStreamsOnly) {
  const auto section = BuildPmtSection({{0x1B, 0x100, "xxx"},
                                        {0x03, 0x101, "deu"},
                                        {0x06, 0x102, "eng", {0x6A, 1, 0x00}},  // AC-3 descriptor first
                                        {0x81, 0x103, "fra"},
                                        {0x04, 0x104, ""}});
  TrackTable tracks;
  ASSERT_TRUE(parsePmt(section, tracks));
  EXPECT_TRUE(tracks.videoIsH264);
  ASSERT_EQ(tracks.languageCount, 3u);
  EXPECT_STREQ(tracks.languageFor(0x101), "deu");
  EXPECT_STREQ(tracks.languageFor(0x102), "eng");
  EXPECT_STREQ(tracks.languageFor(0x103), "fra");
  EXPECT_EQ(tracks.languageFor(0x100), nullptr);  // video languages are not kept

  // A later PMT without H.264 turns it off and replaces the languages.
  ASSERT_TRUE(parsePmt(BuildPmtSection({{0x02, 0x100, ""}, {0x03, 0x101, "ita"}}), tracks));
  EXPECT_FALSE(tracks.videoIsH264);
  EXPECT_EQ(tracks.languageCount, 1u);
  EXPECT_STREQ(tracks.languageFor(0x101), "ita");
}

TEST(ParsePmt, RefusesDamagedAndMultiSectionTables) {
  TrackTable tracks;
  const auto good = BuildPmtSection({{0x1B, 0x100, ""}, {0x03, 0x101, "deu"}});
  EXPECT_FALSE(parsePmt(BuildPmtSection({{0x1B, 0x100, ""}}, 1), tracks));  // section_number 1, CRC right
  auto flipped = good;
  flipped[14] ^= 0x04;
  EXPECT_FALSE(parsePmt(flipped, tracks));
  EXPECT_FALSE(parsePmt(std::span(good).first(good.size() - 1), tracks));  // truncated
  EXPECT_FALSE(tracks.videoIsH264);
  EXPECT_EQ(tracks.languageCount, 0u);
  ASSERT_TRUE(parsePmt(good, tracks));
  EXPECT_TRUE(tracks.videoIsH264);
}

TEST(ParsePmt, KeepsLanguagesFoundBeforeAStreamEntryOverruns) {
  // The second stream claims more descriptor bytes than the section holds;
  // the CRC is made to match so that only the walk can catch it.
  auto section = BuildPmtSection({{0x03, 0x101, "deu"}, {0x03, 0x102, "eng"}});
  section[12 + 5 + 6 + 4] = 0x40;  // ES_info_length of the second stream
  section.resize(section.size() - 4);
  const std::uint32_t crc = Crc32Mpeg(section);
  for (int i = 0; i < 4; ++i) section.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
  TrackTable tracks;
  tracks.videoIsH264 = true;
  EXPECT_FALSE(parsePmt(section, tracks));
  EXPECT_EQ(tracks.languageCount, 1u);
  EXPECT_TRUE(tracks.videoIsH264);  // unchanged by a refused section
}

TEST(ParsePmt, SurvivesRandomSectionsWithValidCrc) {
  std::mt19937 random(99);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::uint8_t> s(16 + random() % 200);
    for (auto& b : s) b = static_cast<std::uint8_t>(random());
    s[1] = static_cast<std::uint8_t>(0xB0 | ((s.size() - 3) >> 8));
    s[2] = static_cast<std::uint8_t>((s.size() - 3) & 0xFF);
    s[6] = s[7] = 0;
    const std::uint32_t crc = Crc32Mpeg(std::span(s).first(s.size() - 4));
    for (int i = 0; i < 4; ++i) s[s.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    TrackTable tracks;
    parsePmt(s, tracks);
    EXPECT_LE(tracks.languageCount, kMaxLanguages);
  }
}

}  // namespace
}  // namespace kelvor
