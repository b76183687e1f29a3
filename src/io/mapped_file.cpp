#include "io/mapped_file.h"

#include <cerrno>
#include <cstdint>

#include "io/file_identity.h"
#include "io/read_only_file.h"

namespace kelvor {

int MappedFile::open(const std::string& path) {
  close();
  ReadOnlyFile file;
  if (const int error = file.open(path); error != 0) return error;
  FileStatus st;
  if (const int error = file.status(st); error != 0) return error;
  if (!st.regular) return kNotRegularFile;
  if (st.size > SIZE_MAX) return EFBIG;
  const auto size = static_cast<std::size_t>(st.size);
  if (size > 0) {
    int error = 0;
    const std::uint8_t* p = file.map(0, size, error);
    if (p == nullptr) return error;
    data_ = p;
    size_ = size;
    guard_.clearFault();
    guard_.guard(p, size);
  }
  return 0;  // the mapping stays valid after the file is closed
}

void MappedFile::close() {
  if (data_ == nullptr) return;
  guard_.release();
  ReadOnlyFile::unmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace kelvor
