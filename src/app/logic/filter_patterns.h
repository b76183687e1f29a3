#pragma once
// The extensions of a file dialog's filter as the string table writes it:
// NUL-separated description/pattern pairs, patterns "*.MPG;*.MPEG".
#include <string_view>

namespace kelvor {

// True when `extension` (without the '.', any case) is one of the patterns
// of the entry-th pair of `filter` ("*.MTS", also "*M2TS" as written there).
bool FilterEntryHasExtension(std::string_view filter, int entry, std::string_view extension);

// The extension of the file-name part of `path` (after its last '.', the
// '.' not the name's first character); empty when it has none.
std::string_view ExtensionOf(std::string_view path);

}  // namespace kelvor
