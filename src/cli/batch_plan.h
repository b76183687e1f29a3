#pragma once
// What a batch (convert -o DIR) checks before it writes anything: each input
// once, no two outputs of one name, and the folder the outputs go to.
#include <string>
#include <vector>

#include "mux/mux_layout.h"

namespace kelvor::cli {

// The inputs in the order given, each file once: a file named again (by the
// same path, "./", a link) is left out, with a note on stderr.
std::vector<std::string> UniqueInputs(const std::vector<const char*>& paths);

// OUTDIR/<name of INPUT without its extension>.<ext of the format>
std::string BatchOutputPath(const std::string& dir, const std::string& input, OutputFormat format);

// True when two inputs would write one output: their names without the
// extension are equal, ignoring case (a folder may ignore it, and the
// format, hence the extension, is known only after each scan). Prints each
// such pair to stderr.
[[nodiscard]] bool OutputNamesCollide(const std::vector<std::string>& inputs);

// Makes the output folder when it does not exist (one level, as mkdir
// does): 0, or the errno value (ENOTDIR when a file is in the way).
[[nodiscard]] int MakeOutputFolder(const std::string& dir);

}  // namespace kelvor::cli
