#pragma once
// The files of a cut list on disk: reading one whole, and finding the one a
// recorder or an advert detector left next to a recording.
#include <string>

namespace kelvor {

// A cut file longer than this is not a cut file.
inline constexpr std::size_t kMaxCutFileBytes = 1u << 20;

// Reads the file at `path` (UTF-8) into `text`; false with `error` set to
// the reason (the system's, or "too large for a cut file").
[[nodiscard]] bool ReadCutFile(const std::string& path, std::string& text, std::string& error);

// The cut file with the base name of `input` beside it: NAME.edl, else
// NAME.marks; empty when there is none.
std::string CutFileNextTo(const std::string& input);

}  // namespace kelvor
