#include "common/format_time.h"

#include <cstdio>

namespace kelvor {

std::string FormatTime(std::uint32_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, (seconds / 60) % 60,
                seconds % 60);
  return text;
}

}  // namespace kelvor
