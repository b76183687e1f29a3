#pragma once
// What a drop of files onto the main window does: it opens one input, as
// File/Input does, when the drop holds a recording.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvor {

// True when the file-name part of `path` ends in one of the input filter's
// extensions (.ts, .tp, .mts, .m2ts, in any case).
bool IsInputFileName(std::string_view path);

// The file a drop opens: the first of `paths` that IsInputFileName accepts.
// None (the drop is ignored) when no dropped file is a recording; the rest
// of a drop of several is ignored, as the window holds one input.
std::optional<std::string> InputFromDrop(const std::vector<std::string>& paths);

}  // namespace kelvor
