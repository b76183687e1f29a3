#include "app/logic/filter_patterns.h"

#include <algorithm>
#include <cctype>

namespace kelvor {

bool FilterEntryHasExtension(std::string_view filter, int entry, std::string_view extension) {
  if (extension.empty() || entry < 0) return false;
  // Fields alternate description, patterns: skip to the entry-th patterns.
  for (int field = 0; field < 2 * entry + 1; ++field) {
    const auto end = filter.find('\0');
    if (end == std::string_view::npos) return false;
    filter.remove_prefix(end + 1);
  }
  std::string_view patterns = filter.substr(0, filter.find('\0'));
  while (!patterns.empty()) {
    const auto end = std::min(patterns.find(';'), patterns.size());
    std::string_view pattern = patterns.substr(0, end);
    patterns.remove_prefix(std::min(end + 1, patterns.size()));
    if (!pattern.empty() && pattern.front() == '*') pattern.remove_prefix(1);
    if (!pattern.empty() && pattern.front() == '.') pattern.remove_prefix(1);
    if (pattern.size() == extension.size() &&
        std::equal(pattern.begin(), pattern.end(), extension.begin(), [](char a, char b) {
          return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        })) {
      return true;
    }
  }
  return false;
}

std::string_view ExtensionOf(std::string_view path) {
  const auto sep = path.find_last_of("\\/");
  const std::string_view name = sep == std::string_view::npos ? path : path.substr(sep + 1);
  const auto dot = name.find_last_of('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

}  // namespace kelvor
