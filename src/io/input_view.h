#pragma once
// The input transport stream, read through a read-only memory-mapped window
// that slides forward over the file. After every advance that does not end
// the input, at least 613 bytes from readPtr() are mapped and inside the
// file, so a packet loop can look three packets ahead without checks.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "common/ui_port.h"
#include "io/file_identity.h"
#include "io/mapping_guard.h"
#include "io/read_only_file.h"

namespace kelvor {

class InputView {
 public:
  // Every slide unmaps the window, which costs every core a TLB flush
  // while the writer thread runs: slide rarely.
  static constexpr std::uint32_t kWindowSize = 0x200000;  // 2 MiB
  static constexpr std::uint32_t kSlideStep = 0x100000;   // 1 MiB
  static constexpr std::uint32_t kEndMargin = 613;       // 3 * 204 + 1

  explicit InputView(UiPort& ui) : ui_(ui) {}
  ~InputView() { close(); }
  InputView(const InputView&) = delete;
  InputView& operator=(const InputView&) = delete;

  // The file to open next; nameOffset() is where its file-name part starts.
  void setPath(std::string path);
  const std::string& path() const { return path_; }
  std::uint32_t nameOffset() const { return nameOffset_; }
  const char* fileName() const { return path_.c_str() + nameOffset_; }

  // Opens and maps the file at offset 0. Reports failures to the user;
  // openError() then holds errno (or kNotRegularFile).
  bool open();
  // Moves forward by n bytes. False when the window could not be moved or
  // the file was cut short under the read position (cutShort()); a file cut
  // short ahead of it sets cutShort() and ends at its new end.
  bool advance(std::uint32_t n);
  void close();

  const std::uint8_t* readPtr() const { return readPtr_; }
  bool endOfInput() const { return endOfInput_; }
  std::uint64_t fileSize() const { return fileSize_; }
  std::uint32_t fileSizeMiB() const { return fileSizeMiB_; }
  std::uint64_t position() const { return viewOffset_ + posInView_; }
  std::uint64_t viewOffset() const { return viewOffset_; }
  std::uint32_t viewSize() const { return viewSize_; }
  // One past the furthest file byte mapped since open(): how much of the
  // file a pass could have touched.
  std::uint64_t mappedEnd() const { return mappedEnd_; }

  int openError() const { return openError_; }
  // The file became shorter than it was at open(): another program cut it.
  bool cutShort() const { return cutShort_; }
  // The open file; nothing when none is open.
  std::optional<FileIdentity> identity() const { return identity_; }

  // True when the byte `offset` bytes after readPtr() lies inside the file
  // and is 0x47. A byte beyond the end of the file is never read.
  bool isSyncByteAt(std::uint32_t offset) const {
    if (position() + offset >= fileSize_) return false;
    return readPtr_[offset] == 0x47;
  }

  // True when the bytes from `offset` after readPtr() on, up to `count` of
  // them but not beyond the end of the file, are all zero and at least one
  // lies inside the file: padding, where no packet follows. `offset + count`
  // must stay within kEndMargin.
  bool isZeroRunAt(std::uint32_t offset, std::uint32_t count) const {
    if (position() + offset >= fileSize_) return false;
    const auto inside = static_cast<std::uint32_t>(std::min<std::uint64_t>(count, fileSize_ - position() - offset));
    for (std::uint32_t k = 0; k < inside; ++k) {
      if (readPtr_[offset + k] != 0) return false;
    }
    return true;
  }

  // The packet size that four sync bytes in a row show at the current
  // position: 188, 192 (a 4-byte prefix before each packet), 204 (16 parity
  // bytes after each packet, skipped), or 0 for none.
  std::uint32_t packetSizeHere() const {
    if (!isSyncByteAt(0)) return 0;
    for (const std::uint32_t size : {188u, 192u, 204u}) {
      if (isSyncByteAt(size) && isSyncByteAt(2 * size) && isSyncByteAt(3 * size)) return size;
    }
    return 0;
  }

 private:
  bool mapWindow(std::uint64_t offset, int& error);
  void unmapWindow();
  // False (after telling the user) when the file is now shorter than at open().
  bool checkNotCutShort();

  UiPort& ui_;
  std::string path_;
  std::uint32_t nameOffset_ = 0;
  ReadOnlyFile file_;
  const std::uint8_t* view_ = nullptr;
  std::uint32_t viewSize_ = 0;
  std::uint64_t fileSize_ = 0;
  std::uint32_t fileSizeMiB_ = 0;
  std::uint64_t viewOffset_ = 0;
  std::uint32_t posInView_ = 0;
  const std::uint8_t* readPtr_ = nullptr;
  bool endOfInput_ = true;
  std::uint64_t mappedEnd_ = 0;
  int openError_ = 0;
  bool cutShort_ = false;
  std::optional<FileIdentity> identity_;
  MappingGuard guard_;
};

}  // namespace kelvor
