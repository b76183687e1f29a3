#include "io/file_identity.h"

#include <cstring>

namespace kelvor {

std::string ReasonText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  if (error == kCreatedMeanwhile) return "created by another program meanwhile";
  if (error == kInUse) return "in use: another run or program is writing it";
  return std::strerror(error);
}

}  // namespace kelvor
