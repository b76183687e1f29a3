#pragma once
// What decode-ac3 and transcode-eac3 share before they decode: the command
// line `[--stats] INPUT OUTPUT`, the check that OUTPUT is not INPUT, and the
// input mapped and narrowed to the elementary stream of wanted frames.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/private_track.h"
#include "io/mapped_file.h"

namespace kelvor::cli {

struct AudioCommandInput {
  bool stats = false;
  std::string inputPath;
  std::string outputPath;
  MappedFile file;
  std::vector<std::uint8_t> extracted;   // a transport stream's track
  std::span<const std::uint8_t> stream;  // what the command reads
};

// argv[0] names the command in messages; `usage` is its help text. Returns
// the exit status to end with (after help, a bad command line, an output
// that names the input or an input that cannot be read), or nothing when
// the command goes on with `in`.
std::optional<int> OpenAudioCommandInput(int argc, char** argv, const char* usage, const WantedFrame& wanted,
                                         AudioCommandInput& in);

}  // namespace kelvor::cli
