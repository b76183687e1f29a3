#pragma once
// A whole input file mapped read-only, for the commands that read a file as
// one span (decode-ac3, transcode-eac3). Only a regular file is mapped: a
// FIFO or a device is refused before anything waits on it. A file cut short
// while it is read gives zeros and cutShort() instead of ending the process.
#include <cstdint>
#include <span>
#include <string>

#include "io/mapping_guard.h"

namespace kelvor {

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile() { close(); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // 0 when the file is mapped (an empty file maps to an empty span), else
  // errno or kNotRegularFile.
  int open(const std::string& path);
  void close();

  std::span<const std::uint8_t> bytes() const { return {data_, size_}; }
  // A read found the file shorter than at open(): what was read past the
  // new end is zeros.
  bool cutShort() const { return guard_.faulted(); }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  MappingGuard guard_;
};

}  // namespace kelvor
