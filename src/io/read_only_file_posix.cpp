#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "io/read_only_file.h"

namespace kelvor {

int ReadOnlyFile::open(const std::string& path) {
  close();
  // O_NONBLOCK: opening a FIFO without a writer, or some devices, would
  // otherwise wait for ever. The flag is cleared again for a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return errno;
  handle_ = fd;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (const int flags = ::fcntl(fd, F_GETFL); flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  }
  return 0;
}

void ReadOnlyFile::close() {
  if (handle_ == kNone) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

int ReadOnlyFile::status(FileStatus& status) const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return errno;
  if (st.st_size < 0) return EINVAL;
  status.size = static_cast<std::uint64_t>(st.st_size);
  status.regular = S_ISREG(st.st_mode);
  status.directory = S_ISDIR(st.st_mode);
  status.identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return 0;
}

std::optional<std::uint64_t> ReadOnlyFile::currentSize() const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0 || st.st_size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

const std::uint8_t* ReadOnlyFile::map(std::uint64_t offset, std::size_t size, int& error) {
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, static_cast<int>(handle_), static_cast<off_t>(offset));
  if (p == MAP_FAILED) {
    error = errno;
    return nullptr;
  }
  return static_cast<const std::uint8_t*>(p);
}

void ReadOnlyFile::unmap(const std::uint8_t* view, std::size_t size) {
  if (view != nullptr) ::munmap(const_cast<std::uint8_t*>(view), size);
}

}  // namespace kelvor
