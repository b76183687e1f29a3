#pragma once
// File names are UTF-8 strings everywhere in the program. These give the
// standard library's path for one and back, and open one with the C
// library: through the system's wide (UTF-16) calls on Windows, where the
// narrow ones would lose every character outside the ANSI code page.
#include <cstdio>
#include <filesystem>
#include <string>

namespace kelvor {

std::filesystem::path PathOfUtf8(const std::string& name);
std::string Utf8OfPath(const std::filesystem::path& path);

// std::fopen for a UTF-8 name (file_names_posix.cpp, file_names_win.cpp).
std::FILE* OpenFile(const std::string& name, const char* mode);

}  // namespace kelvor
