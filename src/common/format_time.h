#pragma once
#include <cstdint>
#include <string>

namespace kelvor {

// "hh:mm:ss"; the hours are not wrapped (100 hours prints "100:00:00").
std::string FormatTime(std::uint32_t seconds);

}  // namespace kelvor
