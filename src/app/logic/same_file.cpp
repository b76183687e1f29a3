#include "app/logic/same_file.h"

#include <filesystem>
#include <system_error>

namespace kelvor {

bool IsSameFile(std::string_view a, std::string_view b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
  return !ec && same;
}

}  // namespace kelvor
