#include "io/cut_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "io/file_names.h"

namespace kelvor {

bool ReadCutFile(const std::string& path, std::string& text, std::string& error) {
  std::error_code ec;
  const std::filesystem::path p = PathOfUtf8(path);
  if (std::filesystem::is_directory(p, ec)) {
    error = "is a folder";
    return false;
  }
  std::FILE* f = OpenFile(path, "rb");
  if (f == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  text.assign(kMaxCutFileBytes + 1, '\0');
  const std::size_t n = std::fread(text.data(), 1, text.size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = "could not be read";
    return false;
  }
  if (n > kMaxCutFileBytes) {
    error = "too large for a cut file";
    return false;
  }
  text.resize(n);
  return true;
}

std::string CutFileNextTo(const std::string& input) {
  const std::filesystem::path in = PathOfUtf8(input);
  for (const char* extension : {".edl", ".marks"}) {
    std::filesystem::path candidate = in;
    candidate.replace_extension(extension);
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return Utf8OfPath(candidate);
  }
  return {};
}

}  // namespace kelvor
