#include "app/logic/output_choice.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelvor {
namespace {

TEST(ProposedOutputName, FirstConversionDropsOnlyTheExtension) {
  EXPECT_EQ(ProposeOutputName(R"(D:\rec\film.ts)", ""), R"(D:\rec\film)");
  EXPECT_EQ(ProposeOutputName("/home/u/rec/film.ts", ""), "/home/u/rec/film");
  EXPECT_EQ(ProposeOutputName("/home/u/rec/news.part1.ts", ""), "/home/u/rec/news.part1");
  // A '.' in a directory name is not an extension.
  EXPECT_EQ(ProposeOutputName("/home/u/rec.d/film", ""), "/home/u/rec.d/film");
  EXPECT_EQ(ProposeOutputName(R"(D:\rec.d\film)", ""), R"(D:\rec.d\film)");
  EXPECT_EQ(ProposeOutputName("film.ts", ""), "film");
}

TEST(ProposedOutputName, LaterConversionsKeepThePreviousDirectory) {
  EXPECT_EQ(ProposeOutputName(R"(E:\tv\news.part1.ts)", R"(D:\rec\film.MPG)"), R"(D:\rec\news)");
  EXPECT_EQ(ProposeOutputName("/media/tv/news.part1.ts", "/home/u/out/film.MPG"), "/home/u/out/news");
  EXPECT_EQ(ProposeOutputName("/media/tv/news", "/home/u/out/film.MPG"), "/home/u/out/news");
  // A previous output without a directory gives the bare name.
  EXPECT_EQ(ProposeOutputName("/media/tv/news.ts", "film.MPG"), "news");
}

TEST(OutputChoice, SequenceOfConversionsProposesAndRemembers) {
  OutputChoice choice;
  EXPECT_EQ(choice.dialogFormat(Codec::Mpeg2Video), OutputFormat::ProgramStream);
  EXPECT_EQ(choice.proposeName(R"(D:\rec\film.ts)", OutputFormat::ProgramStream), R"(D:\rec\film.MPG)");
  EXPECT_EQ(choice.accept(R"(D:\rec\film)", OutputFormat::ProgramStream), R"(D:\rec\film.MPG)");
  EXPECT_EQ(choice.proposeName(R"(E:\tv\news.part1.ts)", OutputFormat::Ts), R"(D:\rec\news.TS)");
}

TEST(OutputChoice, FilterDefaultsToM2tsForH264UntilTheUserChooses) {
  OutputChoice choice;
  EXPECT_EQ(choice.dialogFormat(Codec::H264), OutputFormat::M2ts);
  // Cancelled: the default stays, even for a later MPEG-2 input.
  EXPECT_EQ(choice.dialogFormat(Codec::Mpeg2Video), OutputFormat::M2ts);
  choice.accept("/tmp/a", OutputFormat::Ts);
  EXPECT_EQ(choice.dialogFormat(Codec::H264), OutputFormat::Ts);
  EXPECT_EQ(choice.dialogFormat(Codec::Mpeg2Video), OutputFormat::Ts);

  OutputChoice mpeg2First;
  EXPECT_EQ(mpeg2First.dialogFormat(Codec::Mpeg2Video), OutputFormat::ProgramStream);
  EXPECT_EQ(mpeg2First.dialogFormat(Codec::H264), OutputFormat::ProgramStream);
}

// The file written must carry the extension of the container the filter
// says, whatever the dialog returned: an H.264 input once got "NAME.MPG"
// holding an M2TS.
TEST(OutputChoice, ExtensionFollowsTheChosenFilter) {
  // No extension, or one that is no output format's: the filter's is added.
  EXPECT_EQ(WithFilterExtension("/o/film", OutputFormat::ProgramStream), "/o/film.MPG");
  EXPECT_EQ(WithFilterExtension("/o/film", OutputFormat::Ts), "/o/film.TS");
  EXPECT_EQ(WithFilterExtension("/o/film", OutputFormat::M2ts), "/o/film.MTS");
  EXPECT_EQ(WithFilterExtension("/o/film", OutputFormat::Dvd), "/o/film.MPG");
  EXPECT_EQ(WithFilterExtension("/o/news.part1", OutputFormat::Ts), "/o/news.part1.TS");
  EXPECT_EQ(WithFilterExtension("/o.d/film", OutputFormat::Ts), "/o.d/film.TS");
  EXPECT_EQ(WithFilterExtension(R"(D:\o.d\film)", OutputFormat::Ts), R"(D:\o.d\film.TS)");
  EXPECT_EQ(WithFilterExtension("/o/.hidden", OutputFormat::Ts), "/o/.hidden.TS");
  // Another format's extension is replaced, keeping lower case lower.
  EXPECT_EQ(WithFilterExtension("/o/film.MPG", OutputFormat::M2ts), "/o/film.MTS");
  EXPECT_EQ(WithFilterExtension("/o/film.mpg", OutputFormat::Ts), "/o/film.ts");
  EXPECT_EQ(WithFilterExtension("/o/film.Ts", OutputFormat::ProgramStream), "/o/film.MPG");
  EXPECT_EQ(WithFilterExtension("/o/film.vob", OutputFormat::M2ts), "/o/film.mts");
  EXPECT_EQ(WithFilterExtension("/o/film.m2ts", OutputFormat::ProgramStream), "/o/film.mpg");
  // Any of the filter's own patterns is kept as typed.
  EXPECT_EQ(WithFilterExtension("/o/film.mpeg", OutputFormat::ProgramStream), "/o/film.mpeg");
  EXPECT_EQ(WithFilterExtension("/o/film.m2ts", OutputFormat::M2ts), "/o/film.m2ts");
  EXPECT_EQ(WithFilterExtension("/o/film.mts", OutputFormat::M2ts), "/o/film.mts");
  EXPECT_EQ(WithFilterExtension("/o/film.VOB", OutputFormat::Dvd), "/o/film.VOB");
  EXPECT_EQ(WithFilterExtension("/o/film.mpg", OutputFormat::Dvd), "/o/film.mpg");
  EXPECT_EQ(WithFilterExtension("/o/", OutputFormat::Ts), "/o/");  // no name: left alone
}

TEST(OutputChoice, ProposalAndAcceptanceFollowTheFilter) {
  OutputChoice choice;
  const OutputFormat opened = choice.dialogFormat(Codec::H264);
  EXPECT_EQ(choice.proposeName("/rec/h264.ts", opened), "/rec/h264.MTS");
  // The user switches the dialog to MPG: the name shown follows.
  EXPECT_EQ(WithFilterExtension(choice.proposeName("/rec/h264.ts", opened), OutputFormat::ProgramStream),
            "/rec/h264.MPG");
  // OK with the proposed name but the TS filter: a TS file is written, named so.
  EXPECT_EQ(choice.accept("/rec/h264.MTS", OutputFormat::Ts), "/rec/h264.TS");
  EXPECT_EQ(choice.proposeName("/rec/next.ts", *choice.format()), "/rec/next.TS");
}

TEST(OutputChoice, FilterIndexMapsToFormat) {
  for (const OutputFormat f :
       {OutputFormat::ProgramStream, OutputFormat::Ts, OutputFormat::M2ts, OutputFormat::Dvd}) {
    EXPECT_EQ(FormatFromFilterIndex(FilterIndexOf(f)), f);
  }
  EXPECT_EQ(FilterIndexOf(OutputFormat::ProgramStream), 0);  // the filters' order: MPG, TS, M2TS, DVD
  EXPECT_EQ(FilterIndexOf(OutputFormat::M2ts), 2);
  EXPECT_EQ(FormatFromFilterIndex(-1), OutputFormat::ProgramStream);
  EXPECT_EQ(FormatFromFilterIndex(7), OutputFormat::ProgramStream);
  // The dialog's fourth filter is DVD's.
  const std::string w = OutputWildcard(PatternCase::AsWritten);
  EXPECT_EQ(std::count(w.begin(), w.end(), '|'), 7);
  EXPECT_NE(w.find("|*.MTS;*M2TS|DVD MPEG Program Stream"), std::string::npos) << w;
}

}  // namespace
}  // namespace kelvor
