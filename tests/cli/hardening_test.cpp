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

// encode-mp2 reads "-" as standard input: an output that is the file
// standard input reads is the input too.
TEST(CliHardening, StandardInputIsKnownByWhatItReads) {
  const fs::path dir = test::TempDir();
  const fs::path wav = dir / "in.wav";
  test::WriteFile(wav, SilentWav());
  std::string said;
  EXPECT_EQ(test::RunCommand(std::string(KELVOR_CLI) + " encode-mp2 - " + Quoted(wav) + " < " + Quoted(wav) + " 2>&1",
                             &said),
            2)
      << said;
  EXPECT_NE(said.find("is the input file"), std::string::npos) << said;
  EXPECT_EQ(test::ReadFile(wav), SilentWav());
  // Another output, from a redirected file and from a pipe, is written.
  EXPECT_EQ(test::RunCommand(std::string(KELVOR_CLI) + " encode-mp2 - " + Quoted(dir / "a.mp2") + " < " + Quoted(wav)),
            0);
  EXPECT_EQ(test::RunCommand("cat " + Quoted(wav) + " | " + KELVOR_CLI + " encode-mp2 - " + Quoted(dir / "b.mp2")), 0);
  EXPECT_EQ(test::ReadFile(dir / "a.mp2"), test::ReadFile(dir / "b.mp2"));
  EXPECT_FALSE(test::ReadFile(dir / "a.mp2").empty());
}

// --report FILE obeys the outputs' rules: it names no input and no output of
// the run (by any route), it replaces an existing file only with
// --overwrite, and it is written only when something was converted.
TEST(CliHardening, TheReportReplacesNoFile) {
  const auto source = test::Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(source)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = test::TempDir();
  const auto recording = test::ReadFile(source);
  test::WriteFile(dir / "in.ts", recording);
  test::WriteFile(dir / "keep.mpg", recording);
  const auto convert = [&](const std::string& args, std::string* said = nullptr) {
    return test::RunCommand("cd " + Quoted(dir) + " && " + KELVOR_CLI + " convert -q " + args + " 2>&1", said);
  };
  struct Refused {
    std::string args;
    std::string said;
  };
  const Refused refused[] = {
      {"--report in.ts in.ts o.mpg", "the report 'in.ts' is the input"},
      {"--report ./in.ts in.ts o.mpg", "is the input"},
      {"--report o.mpg in.ts o.mpg", "the report 'o.mpg' is the output"},
      {"--report keep.mpg in.ts keep.mpg", "is the output"},
      {"--report keep.mpg in.ts o.mpg", "'keep.mpg' exists; nothing was written"},
  };
  for (const Refused& r : refused) {
    std::string said;
    EXPECT_EQ(convert(r.args, &said), 2) << r.args << ": " << said;
    EXPECT_NE(said.find(r.said), std::string::npos) << r.args << ": " << said;
    EXPECT_FALSE(fs::exists(dir / "o.mpg")) << r.args;
    EXPECT_EQ(test::ReadFile(dir / "in.ts"), recording) << r.args;
    EXPECT_EQ(test::ReadFile(dir / "keep.mpg"), recording) << r.args;
  }
  // Nothing converted, nothing reported.
  EXPECT_EQ(convert("--report r.json missing.ts o.mpg"), 1);
  EXPECT_FALSE(fs::exists(dir / "r.json"));
  // A report once, then refused, then replaced with --overwrite.
  EXPECT_EQ(convert("--report r.json in.ts a.mpg"), 0);
  const auto report = test::ReadFile(dir / "r.json");
  EXPECT_NE(std::string(report.begin(), report.end()).find("\"files\""), std::string::npos);
  EXPECT_EQ(convert("--report r.json in.ts b.mpg"), 2);
  EXPECT_FALSE(fs::exists(dir / "b.mpg"));
  EXPECT_EQ(convert("--overwrite --report r.json in.ts b.mpg"), 0);
  // In a batch, an output named as the report is refused.
  fs::create_directory(dir / "out");
  std::string said;
  EXPECT_EQ(convert("--report out/in.mpg in.ts -o out", &said), 2) << said;
  EXPECT_NE(said.find("is the report file"), std::string::npos) << said;
  EXPECT_FALSE(fs::exists(dir / "out" / "in.mpg"));
}

// Two runs that write one new output at once: one writes it, the other is
// refused, whichever comes first; the file is one whole conversion.
TEST(CliHardening, TwoRunsNeverWriteOneOutput) {
  const auto source = test::Fixture("mpeg2_mp2_ac3.ts");
  if (!fs::exists(source)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = test::TempDir();
  const std::string run = std::string(KELVOR_CLI) + " convert -q " + Quoted(source) + " " + Quoted(dir / "o.mpg");
  ASSERT_EQ(test::RunCommand(run + " 2>/dev/null"), 0);
  const auto whole = test::ReadFile(dir / "o.mpg");
  for (int attempt = 0; attempt < 6; ++attempt) {
    fs::remove(dir / "o.mpg");
    std::string statuses;
    test::RunCommand("(" + run + " 2>/dev/null; echo $?) > " + Quoted(dir / "a.txt") + " & (" + run +
                         " 2>/dev/null; echo $?) > " + Quoted(dir / "b.txt") + "; wait; cat " + Quoted(dir / "a.txt") +
                         " " + Quoted(dir / "b.txt") + " | sort | tr '\n' ' '",
                     &statuses);
    EXPECT_EQ(statuses, "0 2 ") << "attempt " << attempt;
    EXPECT_EQ(test::ReadFile(dir / "o.mpg"), whole) << "attempt " << attempt;
  }
}

// Memory or a thread the system refuses: a message and an exit status from
// every command, never an abort (134) with a half-made output.
TEST(CliHardening, LowMemoryEndsWithAMessageNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limits tried";
#else
  const auto ts = test::Fixture("mpeg2_mp2_ac3.ts");
  const auto ac3 = test::Fixture("ac3_51_pink_640k.ac3");
  const auto eac3 = test::Fixture("eac3_stereo_pink_1m.eac3");
  if (!fs::exists(ts) || !fs::exists(ac3) || !fs::exists(eac3)) GTEST_SKIP() << "generated streams are missing";
  const fs::path dir = test::TempDir();
  test::WriteFile(dir / "in.wav", SilentWav());
  const std::string commands[] = {
      "convert -q --overwrite " + Quoted(ts) + " " + Quoted(dir / "o.mpg"),
      "scan " + Quoted(ts),
      "decode-ac3 " + Quoted(ac3) + " " + Quoted(dir / "o.wav"),
      "transcode-eac3 " + Quoted(eac3) + " " + Quoted(dir / "o.ac3"),
      "encode-mp2 " + Quoted(dir / "in.wav") + " " + Quoted(dir / "o.mp2"),
  };
  // Limits in KiB of address space: from too little to map the input or to
  // hold the output buffers, to too little for a thread's stack.
  for (const int limit : {10000, 15000, 20000, 25000, 30000}) {
    for (const std::string& command : commands) {
      std::string said;
      const int status = test::RunCommand(
          "(ulimit -v " + std::to_string(limit) + "; " + KELVOR_CLI + " " + command + " 2>&1 >/dev/null)", &said);
      EXPECT_TRUE(status == 0 || status == 1 || status == 4) << limit << " " << command << ": " << status << " " << said;
      EXPECT_EQ(said.find("terminate called"), std::string::npos) << limit << " " << command << ": " << said;
      if (status != 0) {
        EXPECT_NE(said, "") << limit << " " << command;
      }
    }
  }
#endif
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
