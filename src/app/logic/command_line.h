#pragma once
// The desktop program's command line: blanks and "/V" (either case).
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

struct CommandLineResult {
  bool verbose = false;      // "/V" was seen before any error
  bool syntaxError = false;  // anything else: the walk stopped there
};

// Walks the command line character by character. A blank is skipped, "/V"
// or "/v" sets verbose; any other character is a syntax error that ends the
// walk (what was read before it still counts).
CommandLineResult ParseCommandLine(std::string_view text);

// A start's arguments: the first one that names an existing file (as the
// desktop menu entry passes it) is the recording to open at once; the others
// form the switch line. "/V" stays a switch even if such a file exists.
struct StartArguments {
  std::string inputPath;  // empty: ask with the input file dialog
  std::vector<std::string> switches;
};
StartArguments SplitStartArguments(const std::vector<std::string>& args,
                                   const std::function<bool(const std::string&)>& isFile);

// The POSIX argument vector (without the program name) as one command line.
std::string JoinArguments(const std::vector<std::string>& args);

}  // namespace kelvor
