#include "app/logic/command_line.h"

namespace kelvor {

CommandLineResult ParseCommandLine(std::string_view text) {
  CommandLineResult result;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t') {
      ++i;
    } else if (c == '/' && i + 1 < text.size() && (text[i + 1] == 'V' || text[i + 1] == 'v')) {
      result.verbose = true;
      i += 2;
    } else {
      result.syntaxError = true;
      break;
    }
  }
  return result;
}

StartArguments SplitStartArguments(const std::vector<std::string>& args,
                                   const std::function<bool(const std::string&)>& isFile) {
  StartArguments result;
  for (const auto& arg : args) {
    const bool isSwitch = arg == "/V" || arg == "/v";
    if (result.inputPath.empty() && !isSwitch && isFile(arg)) {
      result.inputPath = arg;
    } else {
      result.switches.push_back(arg);
    }
  }
  return result;
}

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& arg : args) {
    if (!line.empty()) line += ' ';
    line += arg;
  }
  return line;
}

}  // namespace kelvor
