#pragma once
// "Select input stream" and "Save stream as", the system's common file
// dialogs with the string table's filters. Paths are UTF-8.
#include "app_win32/win32.h"

#include <optional>
#include <string>

#include "mux/mux_layout.h"

namespace kelvor {

// The recording to scan; none when the user cancelled.
std::optional<std::string> AskInputFile(HWND owner, const std::string& current);

struct SaveAnswer {
  std::string path;     // as the dialog returned it
  OutputFormat format;  // of the chosen filter
};
// The output file, opened on `proposed` and the filter of `initial`; none
// when the user cancelled.
std::optional<SaveAnswer> AskOutputFile(HWND owner, const std::string& proposed, OutputFormat initial);

}  // namespace kelvor
