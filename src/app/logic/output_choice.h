#pragma once
// The save dialog's memory for the life of the process: the output format
// (its filter index) and the previous output path, from which the next
// proposed file name is made.
#include <optional>
#include <string>
#include <string_view>

#include "app/logic/message_text.h"
#include "mux/mux_layout.h"

namespace kelvor {

// Where the file-name part of `path` starts: after its last '\' or '/'.
std::size_t FileNameOffset(std::string_view path);

// The proposed output name. The first time (no previous output) it is the
// input path without its extension; afterwards it is the directory of the
// previous output followed by the input's file name up to its first '.'.
// Windows-style and POSIX separators are both understood.
std::string ProposeOutputName(std::string_view inputPath, std::string_view previousOutput);

// The extension the save dialog adds to a name that has none: the first
// pattern of the chosen filter ("MPG", "TS", "MTS").
std::string_view DefaultExtension(OutputFormat format);

// `path` with ".<DefaultExtension>" appended when its file-name part has no '.'.
std::string WithDefaultExtension(std::string path, OutputFormat format);

// The save dialog's filters are MPG, TS, M2TS in this order (0..2): the
// format of a filter index (anything else is the program stream), and back.
OutputFormat FormatFromFilterIndex(int index);
int FilterIndexOf(OutputFormat format);
// The save dialog's wildcard: the MPG, TS and M2TS filters, then DVD, in
// the order of the filter indexes.
std::string OutputWildcard(PatternCase patternCase);

class OutputChoice {
 public:
  // The filter the save dialog opens on. Until the user has chosen one, it
  // is M2TS for H.264 video and the program stream otherwise, and the
  // first such default is kept.
  OutputFormat dialogFormat(bool videoIsH264);

  std::string proposeName(std::string_view inputPath) const {
    return ProposeOutputName(inputPath, outputPath_);
  }

  // The user pressed OK: remembers the format and returns the path to
  // write (with the filter's extension when the name had none).
  std::string accept(std::string_view dialogPath, OutputFormat chosen);

  std::optional<OutputFormat> format() const { return format_; }
  const std::string& outputPath() const { return outputPath_; }

 private:
  std::optional<OutputFormat> format_;  // none until the first dialog
  std::string outputPath_;
};

}  // namespace kelvor
