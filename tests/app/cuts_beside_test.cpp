// The desktop program's cut file: the one beside the recording is read, a
// recording without one is converted whole, and a faulty one is said by its
// line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/logic/cuts_beside.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

TEST(CutsBeside, TheFileBesideTheRecordingIsUsed) {
  const fs::path dir = test::TempDir();
  const std::string rec = (dir / "rec.ts").string();
  int asked = 0;
  auto fps = [&asked] {
    ++asked;
    return 30000.0 / 1001;
  };
  CutsBeside none = ReadCutsBeside(rec, fps);
  EXPECT_TRUE(none.file.empty());
  EXPECT_TRUE(none.spans.empty());
  EXPECT_TRUE(none.error.empty());

  // A marks file counts frames at the video's rate, asked for only then.
  std::ofstream(dir / "rec.marks") << "0:00:01.16\n0:00:02.01\n";
  const CutsBeside marks = ReadCutsBeside(rec, fps);
  EXPECT_EQ(asked, 1);
  ASSERT_EQ(marks.spans.size(), 2u);
  EXPECT_EQ(marks.spans[0].end, 90000 + 15 * 3003);
  // The EDL comes first.
  std::ofstream(dir / "rec.edl") << "10 20 0\n15 30 3\n";
  const CutsBeside edl = ReadCutsBeside(rec, fps);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(edl.file, (dir / "rec.edl").string());
  EXPECT_NE(edl.error.find("rec.edl line 2: the cut span overlaps the one of line 1"), std::string::npos)
      << edl.error;
  EXPECT_TRUE(edl.spans.empty());
}

}  // namespace
}  // namespace kelvor
