#include "app/logic/message_text.h"

#include <cctype>

#include "common/string_table.h"

namespace kelvor {

std::string MessageBoxText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

namespace {

// "*.TS;*.TP" -> "*.TS;*.ts;*.TP;*.tp": the upper-case pattern stays first,
// as the one a save dialog takes its extension from.
std::string WithLowerCase(std::string_view patterns) {
  std::string out;
  std::size_t start = 0;
  while (start <= patterns.size()) {
    auto end = patterns.find(';', start);
    if (end == std::string_view::npos) end = patterns.size();
    const std::string_view pattern = patterns.substr(start, end - start);
    std::string lower(pattern);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!out.empty()) out += ';';
    out += pattern;
    if (lower != pattern) out += ';' + lower;
    start = end + 1;
  }
  return out;
}

}  // namespace

std::string WildcardFromFilter(std::string_view filter, PatternCase patternCase) {
  std::string out;
  std::size_t start = 0;
  bool isPattern = false;  // fields alternate: description, patterns
  while (start < filter.size()) {
    auto end = filter.find('\0', start);
    if (end == std::string_view::npos) end = filter.size();
    if (end == start) break;  // the closing empty entry
    if (!out.empty()) out += '|';
    const std::string_view field = filter.substr(start, end - start);
    if (isPattern && patternCase == PatternCase::BothCases) {
      out += WithLowerCase(field);
    } else {
      out += field;
    }
    isPattern = !isPattern;
    start = end + 1;
  }
  return out;
}

}  // namespace kelvor
