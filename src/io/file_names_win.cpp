#include <string>

#include "io/file_names.h"
#include "io/windows_text.h"

namespace kelvor {

std::FILE* OpenFile(const std::string& name, const char* mode) {
  return ::_wfopen(WideFromUtf8(name).c_str(), WideFromUtf8(mode).c_str());
}

}  // namespace kelvor
