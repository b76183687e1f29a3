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

}  // namespace
}  // namespace kelvor
