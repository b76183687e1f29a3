#pragma once
// Just enough JSON output for the command line's --json reports.
#include <string>
#include <string_view>

namespace kelvor::cli {

// A JSON string literal, quotes included. Bytes that are not well-formed
// UTF-8 (a file name in another encoding) become U+FFFD, so that the output
// is always valid JSON.
std::string JsonString(std::string_view text);

// The bytes of `text` as a JSON string of hex digits: the exact file name
// beside its readable form.
std::string JsonHexString(std::string_view text);

}  // namespace kelvor::cli
