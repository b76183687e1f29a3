#include "io/file_identity.h"

#include <cstring>

namespace kelvor {

std::string ReasonText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return std::strerror(error);
}

}  // namespace kelvor
