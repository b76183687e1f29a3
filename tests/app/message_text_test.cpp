#include "app/logic/message_text.h"

#include <gtest/gtest.h>

#include "common/string_table.h"

namespace kelvor {
namespace {

TEST(MessageText, LineBreaksBecomeLineFeeds) {
  EXPECT_EQ(MessageBoxText("Convertion done!\r Video time = 00:00:10"),
            "Convertion done!\n Video time = 00:00:10");
  EXPECT_EQ(MessageBoxText("a\r\nb\nc\r"), "a\nb\nc\n");
  EXPECT_EQ(MessageBoxText(""), "");
}

TEST(MessageText, FiltersBecomeWildcardsInTheirOrder) {
  EXPECT_EQ(WildcardFromFilter(LoadString(StringId::InputFilter)),
            "MPEG Transport Stream|*.TS;*.TP;*.MTS;*.M2TS|All files|*.*");
  const std::string out = WildcardFromFilter(LoadString(StringId::OutputFilter));
  EXPECT_EQ(out.substr(0, out.find('|')), "MPEG Program Stream");
  // Three description/pattern pairs: the filter index is the output format.
  EXPECT_EQ(std::count(out.begin(), out.end(), '|'), 5);
  EXPECT_NE(out.find("|TS Transport Stream|*.TS|M2TS Transport Stream|"), std::string::npos);
  // Without the closing NUL, and with nothing at all.
  EXPECT_EQ(WildcardFromFilter(std::string_view("A\0*.a", 5)), "A|*.a");
  EXPECT_EQ(WildcardFromFilter(""), "");
}

TEST(MessageText, CaseSensitiveFileSystemsAlsoMatchLowerCaseNames) {
  EXPECT_EQ(WildcardFromFilter(LoadString(StringId::InputFilter), PatternCase::BothCases),
            "MPEG Transport Stream|*.TS;*.ts;*.TP;*.tp;*.MTS;*.mts;*.M2TS;*.m2ts|All files|*.*");
  // Descriptions keep their case; the upper-case pattern stays first.
  const std::string out = WildcardFromFilter(LoadString(StringId::OutputFilter), PatternCase::BothCases);
  EXPECT_EQ(out.substr(0, out.find('|', out.find('|') + 1)), "MPEG Program Stream|*.MPG;*.mpg;*.MPEG;*.mpeg");
}

}  // namespace
}  // namespace kelvor
