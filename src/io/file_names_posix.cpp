#include "io/file_names.h"

namespace kelvor {

std::FILE* OpenFile(const std::string& name, const char* mode) { return std::fopen(name.c_str(), mode); }

}  // namespace kelvor
