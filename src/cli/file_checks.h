#pragma once
// Checks every command makes on the files it is given, before it reads or
// writes anything, and the way it names a file that failed.
#include <string>

namespace kelvor::cli {

// True when OUTPUT names the file INPUT names, by whatever route (the same
// path, "./", a symbolic or a hard link). Prints why to stderr.
bool OutputIsInput(const char* command, const std::string& input, const std::string& output);

// Prints "kelvor-cli COMMAND: 'PATH': REASON" (errno or kNotRegularFile).
void PrintFileError(const char* command, const std::string& path, int error);

}  // namespace kelvor::cli
