#pragma once
#include <string_view>

namespace kelvor {

// True when both paths name one existing file. Writing the output over the
// input being read would destroy the input (and, mapped, crash the reader).
bool IsSameFile(std::string_view a, std::string_view b);

}  // namespace kelvor
