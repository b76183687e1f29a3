#pragma once
// How the core's message texts are put into a message box.
#include <string>
#include <string_view>

namespace kelvor {

// The texts break lines with a lone CR, which only Win32 boxes honour:
// every CR, CR LF and LF becomes one LF.
std::string MessageBoxText(std::string_view text);

enum class PatternCase {
  AsWritten,  // file systems that ignore case
  BothCases,  // each pattern also in lower case, for file systems that do not
};

// A string-table filter (NUL-separated description/pattern pairs) as a
// wxWidgets wildcard ("description|patterns|...").
std::string WildcardFromFilter(std::string_view filter, PatternCase patternCase = PatternCase::AsWritten);

}  // namespace kelvor
