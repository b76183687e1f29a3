#include "io/input_view.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/show_message.h"

namespace kelvor {

void InputView::setPath(std::string path) {
  path_ = std::move(path);
  const auto slash = path_.find_last_of("/\\");
  nameOffset_ = slash == std::string::npos ? 0 : static_cast<std::uint32_t>(slash + 1);
}

bool InputView::mapWindow(std::uint64_t offset) {
  const std::uint64_t size = std::min<std::uint64_t>(fileSize_ - offset, kWindowSize);
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(offset));
  if (p == MAP_FAILED) return false;
  view_ = static_cast<const std::uint8_t*>(p);
  guard_.guard(p, size);
  viewSize_ = static_cast<std::uint32_t>(size);
  viewOffset_ = offset;
  mappedEnd_ = std::max(mappedEnd_, offset + size);
  return true;
}

void InputView::unmapWindow() {
  if (view_ != nullptr) {
    guard_.release();
    ::munmap(const_cast<std::uint8_t*>(view_), viewSize_);
    view_ = nullptr;
    viewSize_ = 0;
  }
}

bool InputView::open() {
  close();
  mappedEnd_ = 0;
  openError_ = 0;
  cutShort_ = false;
  guard_.clearFault();
  // O_NONBLOCK: a FIFO without a writer (or a device) must not hold up the
  // open; what is not a regular file is refused below.
  fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) {
    openError_ = errno;
    ShowMessage(ui_, StringId::InputNotFound);
    return false;
  }
  struct stat st {};
  // Only a size query that really fails is refused; every size is valid.
  if (::fstat(fd_, &st) != 0 || st.st_size < 0) {
    openError_ = errno;
    ShowMessage(ui_, StringId::UnableToGetSize);
    close();
    return false;
  }
  fileSize_ = static_cast<std::uint64_t>(st.st_size);
  if (fileSize_ == 0) {
    openError_ = S_ISREG(st.st_mode) ? 0 : kNotRegularFile;
    ShowMessage(ui_, StringId::Empty);
    close();
    return false;
  }
  fileSizeMiB_ = static_cast<std::uint32_t>((fileSize_ + 0xFFFFF) >> 20);
  // Something that is not a regular file (a directory, a pipe) cannot be mapped.
  if (!S_ISREG(st.st_mode)) {
    openError_ = kNotRegularFile;
    ShowMessage(ui_, StringId::UnableToMap);
    close();
    return false;
  }
  if (!mapWindow(0)) {
    openError_ = errno;
    ShowMessage(ui_, StringId::UnableToSetView);
    close();
    return false;
  }
  identity_ = FileIdentity{st.st_dev, st.st_ino};
  posInView_ = 0;
  // Reads block again (a regular file never waits, but keep it plain).
  if (const int flags = ::fcntl(fd_, F_GETFL); flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  readPtr_ = view_;
  endOfInput_ = false;
  return true;
}

bool InputView::checkNotCutShort() {
  struct stat st {};
  const bool shorter = ::fstat(fd_, &st) == 0 && static_cast<std::uint64_t>(st.st_size) < fileSize_;
  if (!shorter && !guard_.faulted()) return true;
  cutShort_ = true;
  ShowMessage(ui_, StringId::UnableToSetView);
  endOfInput_ = true;
  readPtr_ = nullptr;
  return false;
}

bool InputView::advance(std::uint32_t n) {
  // A read since the last step found the file cut short (the bytes read
  // as zeros): nothing after it can be trusted.
  if (guard_.faulted()) return checkNotCutShort();
  posInView_ += n;
  const std::uint64_t pos = viewOffset_ + posInView_;
  if (fileSize_ < kEndMargin || pos >= fileSize_ - kEndMargin) {
    if (!endOfInput_ && !checkNotCutShort()) return false;
    endOfInput_ = true;
    readPtr_ = view_ + posInView_;
    return true;
  }
  if (posInView_ >= kSlideStep) {
    if (!checkNotCutShort()) return false;
    unmapWindow();
    if (!mapWindow(viewOffset_ + kSlideStep)) {
      ShowMessage(ui_, StringId::UnableToSetView);
      endOfInput_ = true;
      readPtr_ = nullptr;
      return false;
    }
    posInView_ -= kSlideStep;
  }
  readPtr_ = view_ + posInView_;
  return true;
}

void InputView::close() {
  unmapWindow();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  readPtr_ = nullptr;
  endOfInput_ = true;
  identity_.reset();
}

}  // namespace kelvor
