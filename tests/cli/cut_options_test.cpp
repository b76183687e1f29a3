// convert's cut options end to end: a cut list that cannot be carried out
// is refused with one message naming its file and line, and nothing is
// written.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/test_support.h"

namespace kelvor::test {
namespace {

namespace fs = std::filesystem;

int Cli(const std::string& args, std::string* out) {
  return RunCommand(std::string(KELVOR_CLI) + " convert -q " + args + " 2>&1", out);
}

void Write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(ConvertCuts, FaultyListsAreRefusedBeforeAnythingIsWritten) {
  const fs::path input = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(input)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const std::string out = "'" + (dir / "out.mpg").string() + "'";
  Write(dir / "overlap.edl", "1.0 3.0 0\n2.5 4 3\n");
  Write(dir / "bad.marks", "0:00:01.01\nlater\n");
  Write(dir / "reversed.txt", "# trims\n0:00:05-0:00:02\n");
  const std::pair<std::string, std::string> cases[] = {
      {"--cut 5-2", "--cut/--keep span 1: the cut span 0:00:05.000-0:00:02.000 does not end after its start"},
      {"--cut 1-3 --keep 2-4 --keep 3.5-6", "--cut/--keep span 3: the kept span overlaps the one of span 2"},
      {"--cut 1:70-2:00", "--cut '1:70-2:00': expected START-END"},
      {"--cut-round both", "--cut-round needs in, out or nearest"},
      {"--cuts x.edl --cut 1-2", "--cuts cannot be combined with --cut or --keep"},
      {"--cuts '" + (dir / "overlap.edl").string() + "'", "overlap.edl line 2: the cut span overlaps the one of line 1"},
      {"--cuts '" + (dir / "bad.marks").string() + "'", "bad.marks line 2: expected a mark 'H:MM:SS.FF', found 'later'"},
      {"--cuts '" + (dir / "reversed.txt").string() + "'", "reversed.txt line 2: the cut span"},
      {"--cuts '" + (dir / "missing.edl").string() + "'", "missing.edl' cannot be read"},
      {"--cuts '" + dir.string() + "'", "cannot be read: is a folder"},
  };
  for (const auto& [options, message] : cases) {
    std::string said;
    EXPECT_EQ(Cli(options + " '" + input.string() + "' " + out, &said), 2) << options;
    EXPECT_NE(said.find(message), std::string::npos) << options << "\n" << said;
    EXPECT_FALSE(fs::exists(dir / "out.mpg")) << options;
  }
}

// --cuts auto takes the cut file beside each input by its base name; an
// input without one is converted whole.
TEST(ConvertCuts, AutoFindsTheFileBesideEachInput) {
  const fs::path input = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(input)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  fs::create_directory(dir / "out");
  fs::copy_file(input, dir / "rec.ts");
  fs::copy_file(input, dir / "plain.ts");
  Write(dir / "rec.marks", "0:00:01.01\n0:00:00.01\n");
  std::string said;
  EXPECT_EQ(Cli("--cuts auto -o '" + (dir / "out").string() + "' '" + (dir / "plain.ts").string() + "' '" +
                    (dir / "rec.ts").string() + "'",
                &said),
            2);
  EXPECT_NE(said.find("rec.marks line 2: the mark 0:00:00.000 does not come after the one of line 1"),
            std::string::npos)
      << said;
  EXPECT_TRUE(fs::exists(dir / "out" / "plain.mpg"));
  EXPECT_FALSE(fs::exists(dir / "out" / "rec.mpg"));
}

}  // namespace
}  // namespace kelvor::test
