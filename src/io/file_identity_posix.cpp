#include <sys/stat.h>
#include <unistd.h>

#include "io/file_identity.h"

namespace kelvor {

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

std::optional<FileIdentity> IdentityOfStandardInput() {
  struct stat st {};
  if (::fstat(STDIN_FILENO, &st) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace kelvor
