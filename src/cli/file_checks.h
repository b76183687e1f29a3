#pragma once
// Checks every command makes on the files it is given, before it reads or
// writes anything, and the way it names a file that failed.
#include <optional>
#include <string>

#include "io/file_identity.h"

namespace kelvor::cli {

// True when OUTPUT names the file INPUT names, by whatever route (the same
// path, "./", a symbolic or a hard link). Prints why to stderr.
bool OutputIsInput(const char* command, const std::string& input, const std::string& output);

// The same for an input known by its identity (standard input, for one);
// `inputName` is how the user named it.
bool OutputIsFile(const char* command, const std::optional<FileIdentity>& input, const std::string& inputName,
                  const std::string& output);

// Prints "kelvor-cli COMMAND: 'PATH': REASON" (errno or kNotRegularFile).
void PrintFileError(const char* command, const std::string& path, int error);

}  // namespace kelvor::cli
