// Cut lists as users and their tools write them: times, spans, the three
// kinds of cut file, and the faults each one must name by its line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/cut_list.h"

namespace kelvor {
namespace {

constexpr std::int64_t kSecond = kCutTicksPerSecond;

std::vector<std::pair<std::int64_t, std::int64_t>> Spans(const CutList& list) {
  std::vector<std::pair<std::int64_t, std::int64_t>> out;
  for (const CutSpan& s : list.spans()) out.emplace_back(s.start, s.end);
  return out;
}

// The list made of one file's text, or the message it gave.
std::string Read(CutList& list, const std::string& text, CutFileKind kind, double fps = 25) {
  std::string m = list.AddFile(text, kind, fps, "rec.x");
  return m.empty() ? list.Finish("rec.x") : m;
}

TEST(CutList, TimesInEveryWrittenForm) {
  EXPECT_EQ(ParseCutTime("0"), 0);
  EXPECT_EQ(ParseCutTime("95"), 95 * kSecond);
  EXPECT_EQ(ParseCutTime("95.5"), 95 * kSecond + kSecond / 2);
  EXPECT_EQ(ParseCutTime(" 1:02:03.25 "), (3723 * kSecond) + kSecond / 4);
  EXPECT_EQ(ParseCutTime("2:03"), 123 * kSecond);
  EXPECT_EQ(ParseCutTime("0:00:00.001"), 90);
  EXPECT_EQ(ParseCutTime("0.0000111"), 1);  // rounded to the nearest tick
  // 29.97 Hz frame times written to the millisecond land within a tick.
  EXPECT_EQ(ParseCutTime("0:00:01.001"), 90090);
  for (const char* bad : {"", "-1", "1:60", "1:2:3", "1:02:60", "1.", ".5", "1:02:03:04", "1e3", "12a",
                          "99999999", "1:02:03.1234567890", "0x10", "1,5"}) {
    EXPECT_FALSE(ParseCutTime(bad)) << bad;
  }
  EXPECT_EQ(FormatCutTime(3723 * kSecond + kSecond / 4), "1:02:03.250");
  EXPECT_EQ(FormatCutTime(-kSecond / 2), "-0:00:00.500");
}

TEST(CutList, SpansAndRoundingWords) {
  const auto s = ParseCutSpan("0:01:00-0:02:30.5");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->start, 60 * kSecond);
  EXPECT_EQ(s->end, 150 * kSecond + kSecond / 2);
  EXPECT_TRUE(ParseCutSpan("10 - 20"));
  for (const char* bad : {"10", "10-", "-20", "a-b", "10-20-30"}) EXPECT_FALSE(ParseCutSpan(bad)) << bad;
  EXPECT_EQ(ParseCutRounding("in"), CutRounding::In);
  EXPECT_EQ(ParseCutRounding("nearest"), CutRounding::Nearest);
  EXPECT_FALSE(ParseCutRounding("Out"));
  EXPECT_EQ(CutFileKindOf("/rec/Show.EDL"), CutFileKind::Edl);
  EXPECT_EQ(CutFileKindOf("C:\\rec\\show.marks"), CutFileKind::Marks);
  EXPECT_EQ(CutFileKindOf("/video/show/2024-01-01.rec/marks"), CutFileKind::Marks);
  EXPECT_EQ(CutFileKindOf("cuts.txt"), CutFileKind::Spans);
}

// Cut and kept spans given together: sorted, merged where they meet, and
// what lies outside every kept span removed too.
TEST(CutList, CutsAndKeepsMakeOrderedRemovedSpans) {
  CutList list;
  list.AddCut({100 * kSecond, 130 * kSecond, 1});
  list.AddCut({20 * kSecond, 40 * kSecond, 2});
  list.AddCut({40 * kSecond, 50 * kSecond, 3});  // touches the one before: one span
  ASSERT_EQ(list.Finish("cmd"), "");
  EXPECT_EQ(Spans(list), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                             {20 * kSecond, 50 * kSecond}, {100 * kSecond, 130 * kSecond}}));

  CutList keep;
  keep.AddKeep({10 * kSecond, 60 * kSecond, 1});
  keep.AddKeep({90 * kSecond, 200 * kSecond, 2});
  keep.AddCut({120 * kSecond, 125 * kSecond, 3});
  ASSERT_EQ(keep.Finish("cmd"), "");
  EXPECT_EQ(Spans(keep), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                             {0, 10 * kSecond},
                             {60 * kSecond, 90 * kSecond},
                             {120 * kSecond, 125 * kSecond},
                             {200 * kSecond, kCutToTheEnd}}));
  // A kept span from the start removes nothing before it.
  CutList fromStart;
  fromStart.AddKeep({0, 30 * kSecond, 1});
  ASSERT_EQ(fromStart.Finish("cmd"), "");
  EXPECT_EQ(Spans(fromStart), (std::vector<std::pair<std::int64_t, std::int64_t>>{{30 * kSecond, kCutToTheEnd}}));
}

TEST(CutList, FaultsNameTheLine) {
  CutList reversed;
  reversed.AddCut({10 * kSecond, 20 * kSecond, 1});
  reversed.AddCut({50 * kSecond, 40 * kSecond, 2});
  EXPECT_EQ(reversed.Finish("--cut/--keep", "span"),
            "--cut/--keep span 2: the cut span 0:00:50.000-0:00:40.000 does not end after its start");
  CutList overlap;
  overlap.AddCut({30 * kSecond, 60 * kSecond, 1});
  overlap.AddCut({10 * kSecond, 31 * kSecond, 2});
  EXPECT_EQ(overlap.Finish("f.edl"), "f.edl line 2: the cut span overlaps the one of line 1");
  CutList empty;
  empty.AddKeep({5 * kSecond, 5 * kSecond, 4});
  EXPECT_NE(empty.Finish("f").find("line 4: the kept span"), std::string::npos);

  CutList late;
  late.AddCut({10 * kSecond, 20 * kSecond, 1});
  late.AddCut({130 * kSecond, 140 * kSecond, 7});
  ASSERT_EQ(late.Finish("f.edl"), "");
  EXPECT_EQ(late.CheckEnd(200 * kSecond, "f.edl"), "");
  EXPECT_EQ(late.CheckEnd(120 * kSecond, "f.edl"),
            "f.edl line 7: the span from 0:02:10.000 begins after the end of the recording (0:02:00.000)");
}

TEST(CutList, EdlOfAdvertDetectorsAndPlayers) {
  CutList list;
  // Blank lines, comments, CR line ends; types 0 (skip) and 3 (advert break)
  // are cut, 1 (mute) and 2 (scene marker) are not.
  ASSERT_EQ(Read(list,
                 "# made by a detector\r\n"
                 "0.00\t35.40\t0\r\n"
                 "\r\n"
                 "300.12 420.00 3\n"
                 "500 510 1\n"
                 "600 600.5 2\n"
                 "0:12:00.5 0:13:00\n",
                 CutFileKind::Edl),
            "");
  EXPECT_EQ(Spans(list), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                             {0, 35 * kSecond + 36000},
                             {300 * kSecond + 10800, 420 * kSecond},
                             {720 * kSecond + kSecond / 2, 780 * kSecond}}));
  CutList bad;
  EXPECT_EQ(Read(bad, "10 20 0\n30 forty 0\n", CutFileKind::Edl),
            "rec.x line 2: expected 'START END TYPE' in seconds, found '30 forty 0'");
  CutList type;
  EXPECT_EQ(Read(type, "10 20 7\n", CutFileKind::Edl), "rec.x line 1: unknown type '7' (0 to 3)");
  CutList overlapping;
  EXPECT_EQ(Read(overlapping, "10 20 0\n\n15 30 3\n", CutFileKind::Edl),
            "rec.x line 3: the cut span overlaps the one of line 1");
  CutList binary;
  EXPECT_EQ(Read(binary, std::string("\x47\x40\x00\x10\0\0 1", 9), CutFileKind::Edl),
            "rec.x line 1: not a text file");
}

// A marks file: the part from each odd mark to the next is kept; frame
// numbers count from 1 within the second at the recording's frame rate.
TEST(CutList, MarksKeepThePartsBetweenPairs) {
  CutList list;
  ASSERT_EQ(Read(list, "0:00:10.01 start\n0:05:00.13\n0:08:00.01\n", CutFileKind::Marks), "");
  EXPECT_EQ(Spans(list), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                             {0, 10 * kSecond},
                             {300 * kSecond + 12 * 3600, 480 * kSecond}}));
  // At 29.97 Hz the 16th frame is 15 frames of 3003 ticks in.
  CutList ntsc;
  ASSERT_EQ(Read(ntsc, "0:00:01.16\n0:00:02.01\n", CutFileKind::Marks, 30000.0 / 1001), "");
  EXPECT_EQ(Spans(ntsc), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                             {0, kSecond + 15 * 3003}, {2 * kSecond, kCutToTheEnd}}));
  CutList backwards;
  EXPECT_EQ(Read(backwards, "0:01:00.01\n0:00:30.01\n", CutFileKind::Marks),
            "rec.x line 2: the mark 0:00:30.000 does not come after the one of line 1");
  CutList frame;
  EXPECT_EQ(Read(frame, "0:01:00.40\n", CutFileKind::Marks),
            "rec.x line 1: expected a mark 'H:MM:SS.FF', found '0:01:00.40'");
}

TEST(CutList, PlainSpanLines) {
  CutList list;
  ASSERT_EQ(Read(list, "# adverts\n0:10:00-0:12:30\n  95.5-100  \n", CutFileKind::Spans), "");
  EXPECT_EQ(Spans(list), (std::vector<std::pair<std::int64_t, std::int64_t>>{
                             {95 * kSecond + kSecond / 2, 100 * kSecond}, {600 * kSecond, 750 * kSecond}}));
  CutList bad;
  EXPECT_EQ(Read(bad, "0:10:00-0:12:30\n0:12:00 0:13:00\n", CutFileKind::Spans),
            "rec.x line 2: expected 'START-END', found '0:12:00 0:13:00'");
  CutList reversed;
  EXPECT_NE(Read(reversed, "20-10\n", CutFileKind::Spans).find("rec.x line 1: the cut span"), std::string::npos);
}

}  // namespace
}  // namespace kelvor
