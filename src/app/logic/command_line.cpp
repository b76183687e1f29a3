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

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& arg : args) {
    if (!line.empty()) line += ' ';
    line += arg;
  }
  return line;
}

}  // namespace kelvor
