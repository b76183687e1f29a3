#include "io/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelvor {

namespace {

std::optional<FileIdentity> IdentityOf(const struct stat& st) {
  return FileIdentity{st.st_dev, st.st_ino};
}

}  // namespace

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

std::optional<FileIdentity> IdentityOfDescriptor(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::nullopt;
  return IdentityOf(st);
}

int OpenRegularFileForReading(const std::string& path, int& error) {
  // O_NONBLOCK: opening a FIFO without a writer, or some devices, would
  // otherwise wait for ever. The flag is cleared again for a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    error = known ? kNotRegularFile : errno;
    ::close(fd);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::string ReasonText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  return std::strerror(error);
}

}  // namespace kelvor
