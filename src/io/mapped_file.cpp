#include "io/mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "io/file_identity.h"

namespace kelvor {

int MappedFile::open(const std::string& path) {
  close();
  int error = 0;
  const int fd = OpenRegularFileForReading(path, error);
  if (fd < 0) return error;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
    ::close(fd);
    return error;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size > 0) {
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) {
      error = errno;
      ::close(fd);
      return error;
    }
    data_ = static_cast<const std::uint8_t*>(p);
    size_ = size;
    guard_.clearFault();
    guard_.guard(p, size);
  }
  ::close(fd);  // the mapping stays valid without the descriptor
  return 0;
}

void MappedFile::close() {
  if (data_ == nullptr) return;
  guard_.release();
  ::munmap(const_cast<std::uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace kelvor
