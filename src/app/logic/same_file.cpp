#include "app/logic/same_file.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "io/file_names.h"

namespace kelvor {

bool IsSameFile(std::string_view a, std::string_view b) {
  std::error_code ec;
  // The names are UTF-8: a path made from the bytes would read them in the
  // ANSI code page on Windows and find no file for a name beyond ASCII.
  const bool same = std::filesystem::equivalent(PathOfUtf8(std::string(a)), PathOfUtf8(std::string(b)), ec);
  return !ec && same;
}

}  // namespace kelvor
