// The PMT read into a value: its streams with their descriptors, the video
// coding, the audio languages, and refusal of sections that are damaged or
// not the one-section table.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "scan/pmt.h"
#include "support/ts_builder.h"

namespace kelvor {
namespace {

using test::BuildPmtSection;

TEST(ParsePmt, KeepsEveryStreamWithItsDescriptorsAndTheLanguagesOfAudioOnly) {
  const auto section = BuildPmtSection({{0x1B, 0x100, "xxx"},
                                        {0x03, 0x101, "deu"},
                                        {0x06, 0x102, "eng", {0x6A, 1, 0x00}},  // AC-3 descriptor first
                                        {0x81, 0x103, "fra"},
                                        {0x04, 0x104, ""}});
  Pmt pmt;
  ASSERT_TRUE(ParsePmt(section, pmt));
  EXPECT_EQ(pmt.programNumber, 1u);
  ASSERT_EQ(pmt.streamCount, 5u);
  EXPECT_EQ(pmt.videoCodec(), Codec::H264);
  const PmtEntry* ac3 = pmt.find(0x102);
  ASSERT_NE(ac3, nullptr);
  EXPECT_EQ(ac3->streamType, 0x06);
  const auto d = pmt.descriptors(*ac3);
  EXPECT_EQ(std::vector<std::uint8_t>(d.begin(), d.end()),
            (std::vector<std::uint8_t>{0x6A, 1, 0x00, 0x0A, 4, 'e', 'n', 'g', 0x00}));
  EXPECT_TRUE(pmt.descriptors(*pmt.find(0x104)).empty());
  EXPECT_EQ(pmt.find(0x105), nullptr);
  EXPECT_STREQ(pmt.languageOf(0x101), "deu");
  EXPECT_STREQ(pmt.languageOf(0x102), "eng");
  EXPECT_STREQ(pmt.languageOf(0x103), "fra");
  EXPECT_EQ(pmt.languageOf(0x100), nullptr);  // video languages are not kept
  EXPECT_EQ(pmt.languageOf(0x104), nullptr);

  // A later PMT read into the same value replaces all of it.
  ASSERT_TRUE(ParsePmt(BuildPmtSection({{0x02, 0x100, ""}, {0x03, 0x101, "ita"}}), pmt));
  EXPECT_EQ(pmt.videoCodec(), Codec::Mpeg2Video);
  EXPECT_EQ(pmt.streamCount, 2u);
  EXPECT_EQ(pmt.languageOf(0x102), nullptr);
  EXPECT_STREQ(pmt.languageOf(0x101), "ita");
}

TEST(ParsePmt, NamesTheVideoCodecOfEachStreamType) {
  EXPECT_EQ(VideoCodecOfStreamType(0x01), Codec::Mpeg2Video);
  EXPECT_EQ(VideoCodecOfStreamType(0x02), Codec::Mpeg2Video);
  EXPECT_EQ(VideoCodecOfStreamType(0x1B), Codec::H264);
  EXPECT_EQ(VideoCodecOfStreamType(0x03), Codec::None);
  EXPECT_EQ(VideoCodecOfStreamType(0x24), Codec::Hevc);
  EXPECT_EQ(VideoCodecOfStreamType(0x33), Codec::None);  // VVC
}

TEST(ParsePmt, RefusesDamagedAndMultiSectionTablesAndLeavesTheValue) {
  const auto good = BuildPmtSection({{0x1B, 0x100, ""}, {0x03, 0x101, "deu"}});
  Pmt pmt;
  ASSERT_TRUE(ParsePmt(BuildPmtSection({{0x02, 0x200, ""}}), pmt));
  EXPECT_FALSE(ParsePmt(BuildPmtSection({{0x1B, 0x100, ""}}, 1), pmt));  // section_number 1, CRC right
  auto flipped = good;
  flipped[14] ^= 0x04;
  EXPECT_FALSE(ParsePmt(flipped, pmt));
  EXPECT_FALSE(ParsePmt(std::span(good).first(good.size() - 1), pmt));  // truncated
  ASSERT_EQ(pmt.streamCount, 1u);
  EXPECT_EQ(pmt.streams[0].pid, 0x200u);
  ASSERT_TRUE(ParsePmt(good, pmt));
  EXPECT_EQ(pmt.videoCodec(), Codec::H264);
}

TEST(ParsePmt, KeepsLanguagesFoundBeforeAStreamEntryOverruns) {
  // The second stream claims more descriptor bytes than the section holds;
  // the CRC is made to match so that only the walk can catch it.
  auto section = BuildPmtSection({{0x03, 0x101, "deu"}, {0x03, 0x102, "eng"}});
  section[12 + 5 + 6 + 4] = 0x40;  // ES_info_length of the second stream
  section.resize(section.size() - 4);
  const std::uint32_t crc = Crc32Mpeg(section);
  for (int i = 0; i < 4; ++i) section.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
  Pmt pmt;
  EXPECT_FALSE(ParsePmt(section, pmt));
  EXPECT_EQ(pmt.streamCount, 1u);
  EXPECT_STREQ(pmt.languageOf(0x101), "deu");
}

TEST(ParsePmt, TheLongestSectionFitsAndEveryStreamKeepsItsLanguage) {
  std::vector<test::PmtStream> streams;
  for (std::uint16_t pid = 0x100; pid < 0x100 + kMaxPmtStreams; ++pid) streams.push_back({0x04, pid, ""});
  for (std::uint16_t k = 0; k < 10; ++k) streams[k].language = "abc";
  streams.resize(kMaxPmtStreams - 12);  // the ten language descriptors take the room of twelve entries
  const auto section = BuildPmtSection(streams);
  ASSERT_LE(section.size(), kMaxPmtBytes);
  Pmt pmt;
  ASSERT_TRUE(ParsePmt(section, pmt));
  EXPECT_EQ(pmt.streamCount, streams.size());
  EXPECT_STREQ(pmt.languageOf(0x109), "abc");
  EXPECT_EQ(pmt.languageOf(0x10A), nullptr);
}

TEST(ParsePmt, TakesTheLanguageWhereverItStandsAndTheAudioType) {
  // E-AC-3 with the registration descriptor first; an audio description
  // track; subtitles and teletext name their language in their own
  // descriptors; a descriptor that overruns its loop ends the reading.
  const auto section = BuildPmtSection({
      {0x06, 0x101, "", {0x05, 4, 'E', 'A', 'C', '3', 0x7A, 1, 0x00, 0x0A, 4, 'f', 'r', 'a', 0x00}},
      {0x03, 0x102, "", {0x0A, 4, 'q', 'a', 'd', 0x03}},
      {0x06, 0x103, "", {0x59, 8, 'f', 'r', 'a', 0x20, 0x00, 0x01, 0x00, 0x01}},
      {0x06, 0x104, "", {0x56, 5, 'd', 'e', 'u', 0x10, 0x88}},
      {0x06, 0x105, "", {0x0A, 9, 'e', 'n', 'g', 0x00}},
      {0x0F, 0x106, "", {0x0A, 4, 'e', 'n', 'g', 0x02, 0x0A, 4, 's', 'p', 'a', 0x00}},
  });
  Pmt pmt;
  ASSERT_TRUE(ParsePmt(section, pmt));
  EXPECT_STREQ(pmt.languageOf(0x101), "fra");
  EXPECT_STREQ(pmt.languageOf(0x102), "qad");
  EXPECT_EQ(pmt.find(0x102)->audioType, 3);
  EXPECT_EQ(pmt.find(0x101)->audioType, 0);
  EXPECT_STREQ(pmt.languageOf(0x103), "fra");
  EXPECT_STREQ(pmt.languageOf(0x104), "deu");
  EXPECT_EQ(pmt.languageOf(0x105), nullptr);
  EXPECT_STREQ(pmt.languageOf(0x106), "eng");  // the first one
  EXPECT_EQ(pmt.find(0x106)->audioType, 2);
}

TEST(ParsePmt, SurvivesRandomSectionsWithValidCrc) {
  std::mt19937 random(99);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::uint8_t> s(16 + random() % 1100);
    for (auto& b : s) b = static_cast<std::uint8_t>(random());
    s[1] = static_cast<std::uint8_t>(0xB0 | ((s.size() - 3) >> 8));
    s[2] = static_cast<std::uint8_t>((s.size() - 3) & 0xFF);
    s[6] = s[7] = 0;
    const std::uint32_t crc = Crc32Mpeg(std::span(s).first(s.size() - 4));
    for (int i = 0; i < 4; ++i) s[s.size() - 4 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    Pmt pmt;
    const bool accepted = ParsePmt(s, pmt);
    EXPECT_LE(pmt.streamCount, kMaxPmtStreams);
    if (s.size() > kMaxPmtBytes) {
      EXPECT_FALSE(accepted);
    }
    for (std::uint32_t k = 0; k < pmt.streamCount; ++k) {
      const PmtEntry& e = pmt.streams[k];
      EXPECT_LE(std::size_t{e.descriptorsAt} + e.descriptorsLength, s.size());
    }
  }
}

}  // namespace
}  // namespace kelvor
