#include "io/input_view.h"

#include <algorithm>

#include "common/show_message.h"

namespace kelvor {

// Every window starts where a view can start on every system.
static_assert(InputView::kSlideStep % ReadOnlyFile::kViewAlignment == 0);

void InputView::setPath(std::string path) {
  path_ = std::move(path);
  const auto slash = path_.find_last_of("/\\");
  nameOffset_ = slash == std::string::npos ? 0 : static_cast<std::uint32_t>(slash + 1);
}

bool InputView::mapWindow(std::uint64_t offset, int& error) {
  const std::uint64_t size = std::min<std::uint64_t>(fileSize_ - offset, kWindowSize);
  const std::uint8_t* p = file_.map(offset, static_cast<std::size_t>(size), error);
  if (p == nullptr) return false;
  view_ = p;
  guard_.guard(p, size);
  viewSize_ = static_cast<std::uint32_t>(size);
  viewOffset_ = offset;
  mappedEnd_ = std::max(mappedEnd_, offset + size);
  return true;
}

void InputView::unmapWindow() {
  if (view_ != nullptr) {
    guard_.release();
    ReadOnlyFile::unmap(view_, viewSize_);
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
  // A FIFO without a writer (or a device) does not hold up the open; what
  // is not a regular file is refused below.
  openError_ = file_.open(path_);
  if (openError_ != 0) {
    ShowMessage(ui_, StringId::InputNotFound);
    return false;
  }
  FileStatus st;
  // Only a size query that really fails is refused; every size is valid.
  openError_ = file_.status(st);
  if (openError_ != 0) {
    ShowMessage(ui_, StringId::UnableToGetSize);
    close();
    return false;
  }
  fileSize_ = st.size;
  // (A directory may report no size at all; it is refused below as what it is.)
  if (fileSize_ == 0 && !st.directory) {
    openError_ = st.regular ? 0 : kNotRegularFile;
    ShowMessage(ui_, StringId::Empty);
    close();
    return false;
  }
  fileSizeMiB_ = static_cast<std::uint32_t>((fileSize_ + 0xFFFFF) >> 20);
  // Something that is not a regular file (a directory, a pipe) cannot be mapped.
  if (!st.regular) {
    openError_ = kNotRegularFile;
    ShowMessage(ui_, StringId::UnableToMap);
    close();
    return false;
  }
  if (!mapWindow(0, openError_)) {
    ShowMessage(ui_, StringId::UnableToSetView);
    close();
    return false;
  }
  identity_ = st.identity;
  posInView_ = 0;
  readPtr_ = view_;
  endOfInput_ = false;
  return true;
}

bool InputView::checkNotCutShort() {
  const auto now = file_.currentSize();
  const bool shorter = now && *now < fileSize_;
  if (!shorter && !guard_.faulted()) return true;
  cutShort_ = true;
  // What follows the read position is still there: it is read up to the new
  // end, so that the reader can end its output where a stop would (at the
  // end of a whole picture) instead of where the bytes ran out.
  if (shorter && !guard_.faulted() && *now > position() + kEndMargin) {
    fileSize_ = *now;
    viewSize_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(viewSize_, fileSize_ - viewOffset_));
    return true;
  }
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
    int error = 0;
    if (!mapWindow(viewOffset_ + kSlideStep, error)) {
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
  file_.close();
  readPtr_ = nullptr;
  endOfInput_ = true;
  identity_.reset();
}

}  // namespace kelvor
