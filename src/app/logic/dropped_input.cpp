#include "app/logic/dropped_input.h"

#include <algorithm>

#include "app/logic/filter_patterns.h"
#include "common/string_table.h"

namespace kelvor {

bool IsInputFileName(std::string_view path) {
  // The input filter's first entry: "MPEG Transport Stream", "*.TS;*.TP;...".
  return FilterEntryHasExtension(LoadString(StringId::InputFilter), 0, ExtensionOf(path));
}

std::optional<std::string> InputFromDrop(const std::vector<std::string>& paths) {
  const auto found = std::find_if(paths.begin(), paths.end(),
                                  [](const std::string& p) { return IsInputFileName(p); });
  if (found == paths.end()) return std::nullopt;
  return *found;
}

}  // namespace kelvor
