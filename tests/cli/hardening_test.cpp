// kelvor-cli given files that would hurt it: the input again as the output,
// what is not a regular file, files it may not read or write, names that are
// not UTF-8. Signals and races are in tests/hardening/.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

int RunCli(const std::string& args, std::string* out = nullptr) {
  return test::RunCommand("timeout 20 " + std::string(KELVOR_CLI) + " " + args + " 2>&1", out);
}

std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// A WAV of 1152 silent 16-bit stereo samples at 48 kHz.
std::vector<std::uint8_t> SilentWav() {
  std::vector<std::uint8_t> w = {'R', 'I', 'F', 'F', 0x24, 0x12, 0, 0, 'W', 'A', 'V', 'E',  // 36 + 4608
                                 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,              // PCM, 2 channels
                                 0x80, 0xBB, 0, 0, 0x00, 0xEE, 0x02, 0,                    // 48000, 192000 B/s
                                 4, 0, 16, 0, 'd', 'a', 't', 'a', 0x00, 0x12, 0, 0};       // 4608 bytes
  w.resize(w.size() + 4608);
  return w;
}

TEST(CliHardening, OutputNamingTheInputIsRefusedByEveryRoute) {
  const auto source = test::Fixture("ac3_in_ts.ts");
  if (!fs::exists(source)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = test::TempDir();
  struct Input {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::vector<const char*> commands;
  };
  const Input inputs[] = {{"in.ts", test::ReadFile(source), {"convert -q", "decode-ac3", "transcode-eac3"}},
                          {"in.wav", SilentWav(), {"encode-mp2"}}};
  for (const Input& in : inputs) {
    const fs::path input = dir / in.name;
    test::WriteFile(input, in.bytes);
    fs::create_symlink(input, dir / ("sym-" + in.name));
    fs::create_hard_link(input, dir / ("hard-" + in.name));
    const std::string routes[] = {Quoted(input), "./" + in.name, Quoted(dir / ("sym-" + in.name)),
                                  Quoted(dir / ("hard-" + in.name))};
    for (const char* command : in.commands) {
      for (const std::string& output : routes) {
        std::string said;
        EXPECT_EQ(test::RunCommand("cd " + Quoted(dir) + " && " + KELVOR_CLI + " " + command + " " + Quoted(input) +
                                       " " + output + " 2>&1",
                                   &said),
                  2)
            << command << " " << output << ": " << said;
        EXPECT_NE(said.find("is the input file"), std::string::npos) << said;
        ASSERT_EQ(test::ReadFile(input), in.bytes) << command << " " << output;
      }
    }
  }
}

TEST(CliHardening, WhatIsNotARegularFileIsRefusedAtOnce) {
  const fs::path dir = test::TempDir();
  const fs::path fifo = dir / "fifo.ts";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const fs::path& input : {fifo, fs::path("/dev/zero"), dir}) {
    for (const std::string command : {"scan", "convert -q", "decode-ac3", "transcode-eac3"}) {
      const std::string output = command == "scan" ? "" : " " + Quoted(dir / "out.bin");
      std::string said;
      EXPECT_EQ(RunCli(command + " " + Quoted(input) + output, &said), 1) << command << " " << input << ": " << said;
      EXPECT_NE(said.find(input.string() + "': not a regular file"), std::string::npos) << said;
    }
  }
}

TEST(CliHardening, FailuresNameThePathAndTheReason) {
  const auto source = test::Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(source)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = test::TempDir();
  struct Case {
    std::string args;
    int status;
    std::vector<std::string> said;  // in this order
  };
  std::vector<Case> cases = {
      {"convert -q " + Quoted(dir / "missing.ts") + " " + Quoted(dir / "o.ts"), 1,
       {"missing.ts': No such file or directory"}},
      {"convert -q " + Quoted(source) + " " + Quoted(dir / "no" / "o.ts"), 4,
       {"Unable to create output file", "o.ts': No such file or directory"}},
      // A write error is the last word: no final report claims success.
      {"convert -q " + Quoted(source) + " /dev/full", 4,
       {"Output file write error", "'/dev/full': No space left on device"}},
      {"decode-ac3 " + Quoted(test::Fixture("ac3_in_ts.ts")) + " /dev/full", 4, {"'/dev/full': No space left"}},
      {"transcode-eac3 " + Quoted(test::Fixture("eac3_stereo_pink_1m.eac3")) + " /dev/full", 4,
       {"'/dev/full': No space left"}},
      // A leading zero is not octal (0402 would be 0x102, a listed track).
      {"convert -q --audio 0402 " + Quoted(source) + " " + Quoted(dir / "o.ts"), 2, {"0x0192) is not a listed"}},
      {"convert -q --audio 0x1G " + Quoted(source) + " " + Quoted(dir / "o.ts"), 2, {"is not a PID"}},
  };
  if (::geteuid() != 0) {
    const fs::path locked = dir / "locked.ts";
    fs::copy_file(source, locked);
    fs::permissions(locked, fs::perms::none);
    cases.push_back({"convert -q " + Quoted(locked) + " " + Quoted(dir / "o.ts"), 1,
                     {"locked.ts': Permission denied"}});
  }
  for (const Case& c : cases) {
    std::string said;
    EXPECT_EQ(RunCli(c.args, &said), c.status) << c.args << ": " << said;
    std::size_t at = 0;
    for (const std::string& text : c.said) {
      at = said.find(text, at);
      EXPECT_NE(at, std::string::npos) << c.args << ": '" << text << "' missing in:\n" << said;
      if (at == std::string::npos) break;
    }
    EXPECT_EQ(said.find("Convertion done"), std::string::npos) << c.args << ": " << said;
  }
}

TEST(CliHardening, ScanJsonStaysValidForANameThatIsNotUtf8) {
  const auto source = test::Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(source)) GTEST_SKIP() << "generated streams are missing";
  const fs::path link = test::TempDir() / "caf\xE9\xFF.ts";
  fs::create_symlink(source, link);
  std::string out;
  ASSERT_EQ(test::RunCommand(std::string(KELVOR_CLI) + " scan --json " + Quoted(link), &out), 0) << out;
  const std::string check =
      "import json,sys,os; d=json.load(sys.stdin); "
      "sys.exit(0 if bytes.fromhex(d['file_bytes_hex']) == os.fsencode(sys.argv[1]) and "
      "d['file'].endswith('caf\\ufffd\\ufffd.ts') else 1)";
  EXPECT_EQ(test::RunCommand("python3 -c \"" + check + "\" " + Quoted(link) + " <<'EOF'\n" + out + "\nEOF"), 0)
      << out;
}

}  // namespace
}  // namespace kelvor
