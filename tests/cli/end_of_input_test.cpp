// How a conversion ends with its input: a capture too short to hold a whole
// picture is no success, and zero padding after the last packet costs no
// frame.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kelvor::test {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

int Convert(const fs::path& in, const fs::path& out, std::string* said = nullptr) {
  return RunCommand("timeout 60 " + std::string(KELVOR_CLI) + " convert -q " + Quoted(in) + " " + Quoted(out) +
                        " 2>&1",
                    said);
}

// Packets of each stream of `file`, as ffprobe counts them ("codec,count" lines).
std::string PacketCounts(const fs::path& file) {
  std::string out;
  RunCommand("ffprobe -v error -count_packets -show_entries stream=codec_name,nb_read_packets -of csv=p=0 " +
                 Quoted(file) + " | sort",
             &out);
  return out;
}

TEST(EndOfInput, ACaptureWithoutAWholePictureIsAnInputError) {
  const fs::path dir = TempDir();
  const fs::path mpeg2 = Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(mpeg2)) GTEST_SKIP() << "generated streams are missing";
  // The first five packets: the tables, a sequence header and the start of
  // one picture. The first 2000 hold a few whole pictures.
  for (const std::size_t packets : {5u, 2000u}) {
    std::vector<std::uint8_t> bytes = ReadFile(mpeg2);
    bytes.resize(packets * 188);
    const fs::path in = dir / ("head-" + std::to_string(packets) + ".ts");
    WriteFile(in, bytes);
    std::string said;
    const int status = Convert(in, dir / ("head-" + std::to_string(packets) + ".mpg"), &said);
    if (packets == 5) {
      EXPECT_EQ(status, 1) << said;
      EXPECT_NE(said.find("no video was written"), std::string::npos) << said;
      EXPECT_EQ(said.find("Convertion done"), std::string::npos) << said;
    } else {
      EXPECT_EQ(status, 0) << said;
    }
  }
}

TEST(EndOfInput, ZeroPaddingAfterTheLastPacketKeepsEveryFrame) {
  const fs::path dir = TempDir();
  for (const char* name : {"mpeg2_2997_ac3.ts", "mpeg2_mp2_ac3.ts", "mpeg2_mp2_ac3.m2ts"}) {
    if (!fs::exists(Fixture(name))) GTEST_SKIP() << "generated streams are missing";
    const std::vector<std::uint8_t> bytes = ReadFile(Fixture(name));
    const fs::path plain = dir / ("plain-" + std::string(name) + ".mpg");
    ASSERT_EQ(Convert(Fixture(name), plain), 0) << name;
    const std::string expected = PacketCounts(plain);
    // Less than a packet, a packet and more, and a block of a disk.
    for (const std::size_t zeros : {100u, 1000u, 65536u}) {
      std::vector<std::uint8_t> padded = bytes;
      padded.resize(bytes.size() + zeros, 0);
      const fs::path in = dir / ("padded-" + std::string(name));
      WriteFile(in, padded);
      const fs::path out = dir / ("padded-" + std::to_string(zeros) + "-" + name + ".mpg");
      std::string said;
      EXPECT_EQ(Convert(in, out, &said), 0) << name << " + " << zeros << ": " << said;
      EXPECT_EQ(PacketCounts(out), expected) << name << " + " << zeros << " zero bytes";
    }
  }
}

}  // namespace
}  // namespace kelvor::test
