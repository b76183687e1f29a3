#include "app/logic/command_line.h"

#include <gtest/gtest.h>

namespace kelvor {
namespace {

TEST(CommandLine, AcceptsBlanksAndVerboseSwitchesInEitherCase) {
  for (const char* line : {"", "   ", "/V", "/v", " /v /V ", "/V/V", "\t/v"}) {
    const auto r = ParseCommandLine(line);
    EXPECT_FALSE(r.syntaxError) << '"' << line << '"';
    EXPECT_EQ(r.verbose, std::string_view(line).find('/') != std::string_view::npos) << line;
  }
}

TEST(CommandLine, AnythingElseIsASyntaxErrorThatEndsTheWalk) {
  // A switch other than V, a file name, a lone slash at the end.
  for (const char* line : {"/x", "film.ts", "/", "-v", "V", "/ V"}) {
    const auto r = ParseCommandLine(line);
    EXPECT_TRUE(r.syntaxError) << line;
    EXPECT_FALSE(r.verbose) << line;
  }
  // What was read before the error still counts; what follows is not read.
  EXPECT_TRUE(ParseCommandLine("/V film.ts").verbose);
  EXPECT_FALSE(ParseCommandLine("film.ts /V").verbose);
}

TEST(CommandLine, ArgumentsAreJoinedWithBlanks) {
  EXPECT_EQ(JoinArguments({}), "");
  EXPECT_EQ(JoinArguments({"/v", "/V"}), "/v /V");
  // An argument with a blank inside stays one error, not a hidden switch.
  const auto r = ParseCommandLine(JoinArguments({"my film.ts"}));
  EXPECT_TRUE(r.syntaxError);
}

TEST(CommandLine, TheFirstExistingFileIsTheInputAndTheRestStaySwitches) {
  const auto isFile = [](const std::string& a) { return a == "/rec/a.ts" || a == "b.m2ts" || a == "/V"; };
  const auto r = SplitStartArguments({"/V", "/rec/a.ts", "b.m2ts", "missing.ts"}, isFile);
  EXPECT_EQ(r.inputPath, "/rec/a.ts");
  // A second file or a missing one still makes the syntax error it always did.
  EXPECT_EQ(r.switches, (std::vector<std::string>{"/V", "b.m2ts", "missing.ts"}));
  EXPECT_TRUE(SplitStartArguments({"/v"}, isFile).inputPath.empty());
}

}  // namespace
}  // namespace kelvor
