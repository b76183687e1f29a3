#pragma once
// An input file opened for reading and mapped in read-only views: the part
// of reading that differs between systems (read_only_file_posix.cpp,
// read_only_file_win.cpp). Paths are UTF-8. Errors are errno values.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "io/file_identity.h"

namespace kelvor {

struct FileStatus {
  std::uint64_t size = 0;
  bool regular = false;
  bool directory = false;
  FileIdentity identity;
};

class ReadOnlyFile {
 public:
  // Views start at multiples of this: the coarsest mapping granularity of
  // the systems built for (64 KiB on Windows), a multiple of every page size.
  static constexpr std::uint64_t kViewAlignment = 0x10000;

  ReadOnlyFile() = default;
  ~ReadOnlyFile() { close(); }
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Opens `path` without waiting on a FIFO or a device (those are then
  // refused by the caller after status()). 0 or errno.
  int open(const std::string& path);
  void close();
  bool isOpen() const { return handle_ != kNone; }

  // 0 with `status` filled, or errno.
  int status(FileStatus& status) const;
  // The size now, to see whether another program cut the file short.
  std::optional<std::uint64_t> currentSize() const;

  // Maps `size` bytes from `offset` (a multiple of kViewAlignment, inside
  // the size status() gave). Nothing and `error` on failure. A view stays
  // valid after close() until it is unmapped.
  const std::uint8_t* map(std::uint64_t offset, std::size_t size, int& error);
  static void unmap(const std::uint8_t* view, std::size_t size);

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;  // a descriptor, or a Windows HANDLE
  [[maybe_unused]] std::intptr_t mapping_ = 0;  // Windows: the file-mapping object
};

}  // namespace kelvor
