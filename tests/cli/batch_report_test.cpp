// kelvor-cli convert over several files (-o DIR) and its drop report
// (--report), end to end on generated streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kelvor::test {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

int Convert(const std::string& args, std::string* out = nullptr) {
  return RunCommand(std::string(KELVOR_CLI) + " convert -q " + args + " 2>/dev/null", out);
}

bool Impair(const fs::path& in, const fs::path& out, const fs::path& log, const std::string& ops) {
  return RunCommand("python3 '" KELVOR_SOURCE_DIR "/tests/fixtures/impair_ts.py' --log " + Quoted(log) + " " +
                    Quoted(in) + " " + Quoted(out) + " " + ops + " >/dev/null") == 0;
}

std::string Slurp(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(BatchConvert, ConvertsEachInputKeepsExistingOutputsAndEndsWithTheWorstStatus) {
  const fs::path good = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(good)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  const fs::path dropped = dir / "dropped.ts";
  ASSERT_TRUE(Impair(good, dropped, dir / "log.txt", "drop:4.0:0.5"));
  const fs::path unreadable = dir / "unreadable.ts";
  WriteFile(unreadable, std::vector<std::uint8_t>(5000, 0x47));  // sync bytes, nothing behind them
  const fs::path out = dir / "out";
  fs::create_directory(out);
  const std::string inputs = Quoted(good) + " " + Quoted(dropped) + " " + Quoted(unreadable);

  std::string table;
  EXPECT_EQ(Convert("-o " + Quoted(out) + " " + inputs, &table), 1) << table;  // input error outweighs success
  const fs::path first = out / "mpeg2_mp2_ac3.mpg";
  ASSERT_TRUE(fs::exists(first));
  ASSERT_TRUE(fs::exists(out / "dropped.mpg"));
  EXPECT_FALSE(fs::exists(out / "unreadable.mpg"));
  const std::regex row(R"(dropped\.ts +00:00:0\d +0\.5\d0 s +0 ok)");
  EXPECT_TRUE(std::regex_search(table, row)) << table;
  EXPECT_NE(table.find("unreadable.ts"), std::string::npos);
  EXPECT_NE(table.find("1 input error"), std::string::npos) << table;

  // Again: the outputs are there, so nothing is converted or touched.
  const auto before = fs::last_write_time(first);
  const auto size = fs::file_size(first);
  EXPECT_EQ(Convert("-o " + Quoted(out) + " " + inputs, &table), 2) << table;
  EXPECT_EQ(fs::last_write_time(first), before);
  EXPECT_EQ(fs::file_size(first), size);
  EXPECT_EQ(Convert(Quoted(dropped) + " " + Quoted(first)), 2);  // one file: the same rule
  EXPECT_EQ(fs::last_write_time(first), before);
  EXPECT_EQ(Convert("--overwrite " + Quoted(dropped) + " " + Quoted(first)), 0);
  EXPECT_NE(fs::file_size(first), size);
}

// Two recordings of one name in one batch would write one output, the
// second over the first, while the table and the report claimed both:
// the run is refused before anything is written. The same file named twice
// is converted once; an output folder that does not exist is made.
TEST(BatchConvert, OutputsNeverOverwriteEachOther) {
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  const fs::path h264 = Fixture("h264_eac3_mp2.ts");
  if (!fs::exists(mpeg2) || !fs::exists(h264)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  fs::create_directories(dir / "b1");
  fs::create_directories(dir / "b2");
  fs::copy_file(mpeg2, dir / "b1" / "rec.ts");
  fs::copy_file(h264, dir / "b2" / "Rec.TS");
  const fs::path out = dir / "out";
  fs::create_directory(out);
  const std::string pair = Quoted(dir / "b1" / "rec.ts") + " " + Quoted(dir / "b2" / "Rec.TS");
  std::string table;
  for (const char* options : {"--format ts", "--overwrite --format ts", ""}) {
    SCOPED_TRACE(options);
    EXPECT_EQ(Convert(std::string(options) + " --report " + Quoted(dir / "r.json") + " -o " + Quoted(out) + " " +
                      pair, &table),
              2);
    EXPECT_TRUE(fs::is_empty(out));
    EXPECT_EQ(table, "");
  }

  // The same file three times, by three routes: one conversion, one row,
  // into a folder that did not exist.
  fs::create_symlink(dir / "b1" / "rec.ts", dir / "link.ts");
  fs::rename(dir / "b2" / "Rec.TS", dir / "b2" / "other.ts");
  const fs::path made = dir / "made";
  ASSERT_EQ(Convert("--report " + Quoted(dir / "r.json") + " -o " + Quoted(made) + " " +
                    Quoted(dir / "b1" / "rec.ts") + " " + Quoted(dir / "b1" / ".." / "b1" / "rec.ts") + " " +
                    Quoted(dir / "link.ts") + " " + Quoted(dir / "b2" / "other.ts"),
                    &table),
            0) << table;
  EXPECT_TRUE(fs::exists(made / "rec.mpg"));
  EXPECT_TRUE(fs::exists(made / "other.m2ts"));
  EXPECT_FALSE(fs::exists(made / "link.mpg"));
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3) << table;  // the heading and two files
  const std::string json = Slurp(dir / "r.json");
  std::size_t files = 0;
  for (auto at = json.find("\"input\""); at != std::string::npos; at = json.find("\"input\"", at + 1)) ++files;
  EXPECT_EQ(files, 2u) << json;
  // One level is made, as mkdir does; a file in the way is no folder.
  EXPECT_EQ(Convert("-o " + Quoted(dir / "no" / "such") + " " + Quoted(dir / "b1" / "rec.ts")), 4);
  EXPECT_FALSE(fs::exists(dir / "no"));
  EXPECT_EQ(Convert("-o " + Quoted(made / "rec.mpg") + " " + Quoted(dir / "b2" / "other.ts")), 4);
}

// A file that cannot be read is an input error (1) in a batch as it is
// alone, whatever kind of file it is.
TEST(BatchConvert, EachCauseHasOneStatusAloneAndInABatch) {
  const fs::path dir = TempDir();
  ASSERT_EQ(RunCommand("mkfifo " + Quoted(dir / "fifo")), 0);
  fs::create_directory(dir / "folder");
  const std::vector<std::string> unreadable = {Quoted(dir / "missing.ts"), Quoted(dir / "fifo"), "/dev/zero",
                                               Quoted(dir / "folder")};
  std::string all;
  for (const std::string& input : unreadable) {
    EXPECT_EQ(Convert(input + " " + Quoted(dir / "o.mpg")), 1) << input;
    all += input + " ";
  }
  std::string table;
  EXPECT_EQ(Convert("-o " + Quoted(dir / "out") + " " + all, &table), 1) << table;
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5) << table;
  std::size_t inputErrors = 0;
  for (auto at = table.find(" 1 input error"); at != std::string::npos; at = table.find(" 1 input error", at + 1)) {
    ++inputErrors;
  }
  EXPECT_EQ(inputErrors, 4u) << table;
}

// Each file's "[k/n]" line comes before what is said about it, a file
// that cannot be read included, and an input it cannot open gets one line.
TEST(BatchConvert, EachFilesLineComesFirst) {
  const fs::path good = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(good)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = TempDir();
  std::string said;
  EXPECT_EQ(RunCommand(std::string(KELVOR_CLI) + " convert -o " + Quoted(dir / "out") + " " +
                           Quoted(dir / "missing.ts") + " " + Quoted(good) + " 2>&1 >/dev/null",
                       &said),
            1);
  const std::regex order(R"(^\[1/2\] [^\n]*/missing\.ts\n)"
                         R"(kelvor-cli convert: '[^\n]*/missing\.ts': No such file or directory\n)"
                         R"(\[2/2\] [^\n]*/mpeg2_mp2_ac3\.ts\n +-> [^\n]*/mpeg2_mp2_ac3\.mpg\n)");
  EXPECT_TRUE(std::regex_search(said, order)) << said;
}

// Each planted drop is reported once, near where it left its gap in the
// input, with the time the impairment took out (the tool's log).
TEST(DropReport, ListsEachPlantedDropOnceWithTheTimeItRemoved) {
  for (const char* name : {"mpeg2_mp2_ac3.ts", "h264_eac3_mp2.ts"}) {
    SCOPED_TRACE(name);
    const fs::path source = Fixture(name);
    if (!fs::exists(source)) GTEST_SKIP() << "generated streams are missing";
    const fs::path dir = TempDir();
    ASSERT_TRUE(Impair(source, dir / "in.ts", dir / "log.txt", "drop:2.0:0.5 drop:5.0:1.0 drop:7.6:0.3"));
    ASSERT_EQ(Convert("--report " + Quoted(dir / "r.json") + " " + Quoted(dir / "in.ts") + " " +
                      Quoted(dir / "out.ts")),
              0);
    const std::string json = Slurp(dir / "r.json");
    ASSERT_EQ(RunCommand("python3 -m json.tool " + Quoted(dir / "r.json") + " >/dev/null"), 0) << json;
    EXPECT_EQ(json.substr(json.size() - 3), "\n}\n");  // a text file: its last line ends

    struct Planted {
      long long offset;
      double seconds;
    };
    std::vector<Planted> planted;
    std::istringstream log(Slurp(dir / "log.txt"));
    std::string op;
    long long offset = 0;
    int pictures = 0;
    double seconds = 0;
    while (log >> op >> offset >> pictures >> seconds) planted.push_back({offset, seconds});
    ASSERT_EQ(planted.size(), 3u);

    const std::regex event(R"re("kind": "(\w+)", "input_offset": (\d+), .*?"time_cut": ([-\d.]+))re");
    std::vector<Planted> reported;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), event); it != std::sregex_iterator(); ++it) {
      EXPECT_EQ((*it)[1].str(), "video_loss");
      reported.push_back({std::stoll((*it)[2].str()), std::stod((*it)[3].str())});
    }
    ASSERT_EQ(reported.size(), planted.size()) << json;
    for (std::size_t k = 0; k < planted.size(); ++k) {
      // The loss shows at the first video packet after the gap.
      EXPECT_GE(reported[k].offset, planted[k].offset);
      EXPECT_LT(reported[k].offset, planted[k].offset + 128 * 188) << k;
      EXPECT_LE(std::fabs(reported[k].seconds - planted[k].seconds), 0.0401) << k;
    }
  }
}

}  // namespace
}  // namespace kelvor::test
