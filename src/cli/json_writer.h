#pragma once
// Just enough JSON output for the command line's --json reports.
#include <string>
#include <string_view>

namespace kelvor::cli {

// A JSON string literal, quotes included.
std::string JsonString(std::string_view text);

}  // namespace kelvor::cli
