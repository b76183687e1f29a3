// The pictures and the Read Me text built into the desktop program.
#include <gtest/gtest.h>

#include <set>
#include <span>
#include <sstream>
#include <string>

#include "app/resources/kelvor_icon.xpm"
#include "app/resources/kelvor_logo.xpm"
#include "app/resources/readme_text.h"

namespace kelvor {
namespace {

// Checks an XPM image: the header's size and colour count match the rows,
// every pixel uses a defined colour.
void CheckXpm(std::span<const char* const> xpm, int width, int height) {
  std::istringstream header(xpm[0]);
  int w = 0, h = 0, colours = 0, cpp = 0;
  header >> w >> h >> colours >> cpp;
  ASSERT_EQ(w, width);
  ASSERT_EQ(h, height);
  ASSERT_EQ(cpp, 1);
  ASSERT_EQ(xpm.size(), static_cast<std::size_t>(1 + colours + h));
  std::set<char> defined;
  for (int i = 1; i <= colours; ++i) defined.insert(xpm[static_cast<std::size_t>(i)][0]);
  for (int y = 0; y < h; ++y) {
    const std::string row = xpm[static_cast<std::size_t>(1 + colours + y)];
    ASSERT_EQ(row.size(), static_cast<std::size_t>(w)) << "row " << y;
    for (char c : row) ASSERT_TRUE(defined.count(c)) << "row " << y << " colour '" << c << "'";
  }
}

TEST(Pictures, IconAndLogoAreWellFormed) {
  CheckXpm(kelvor_icon_xpm, 32, 32);
  // The logo fits beside the Start button and above the About text.
  CheckXpm(kelvor_logo_xpm, 126, 56);
}

TEST(ReadMe, IsTheUsersGuideWithTheExpectedContents) {
  const std::string_view text = kReadMeText;
  EXPECT_GT(text.size(), 1500u);
  EXPECT_LT(text.size(), 2200u);
  EXPECT_EQ(text.substr(0, text.find("\r\n")).find("KELVOR"), 0u);
  for (const char* needle : {"MPEG", "AC3", "EAC3", "MPEG2", "H264", "File/Input",
                             "All audio tracks", "Convert AC3 to MPEG audio", "Start convertion",
                             "Save stream as", "M2TS", "resynchronises"}) {
    EXPECT_NE(text.find(needle), std::string_view::npos) << needle;
  }
  // CR LF line ends only, and plain single-byte text.
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_EQ(text[i - 1], '\r') << "at " << i;
    }
    if (text[i] == '\r') {
      EXPECT_EQ(text[i + 1], '\n') << "at " << i;
    }
    EXPECT_GE(static_cast<unsigned char>(text[i]), 0x0Au);
    EXPECT_LT(static_cast<unsigned char>(text[i]), 0x80u);
  }
}

}  // namespace
}  // namespace kelvor
