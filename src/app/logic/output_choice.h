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

// The first pattern of a format's save filter ("MPG", "TS", "MTS"; DVD: "MPG").
std::string_view DefaultExtension(OutputFormat format);

// True when `extension` (without the '.', any case) is one of the patterns
// of the format's save filter: MPG/MPEG, TS, MTS/M2TS, and MPG/VOB for DVD.
bool IsExtensionOf(std::string_view extension, OutputFormat format);

// The name's extension follows the chosen filter: `path` is kept when its
// extension is one of the format's; an extension of another output format is
// replaced by DefaultExtension(format), in lower case when it was written in
// lower case; any other name gets ".<DefaultExtension>" appended. A path
// without a file-name part is left alone.
std::string WithFilterExtension(std::string path, OutputFormat format);

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
  OutputFormat dialogFormat(Codec video);

  // The name the save dialog opens with, its extension that of the filter
  // it opens on (dialogFormat). When the user picks another filter, the
  // front end shows WithFilterExtension(name, new format).
  std::string proposeName(std::string_view inputPath, OutputFormat format) const {
    return WithFilterExtension(ProposeOutputName(inputPath, outputPath_), format);
  }

  // The user pressed OK: remembers the format and returns the path to
  // write, WithFilterExtension of what the dialog returned.
  std::string accept(std::string_view dialogPath, OutputFormat chosen);

  std::optional<OutputFormat> format() const { return format_; }
  const std::string& outputPath() const { return outputPath_; }

 private:
  std::optional<OutputFormat> format_;  // none until the first dialog
  std::string outputPath_;
};

}  // namespace kelvor
