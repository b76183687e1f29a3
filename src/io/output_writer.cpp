#include "io/output_writer.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "common/show_message.h"

namespace kelvor {

namespace {

constexpr std::size_t kPageAlignment = 4096;

std::uint8_t* AllocateBuffer(std::size_t size) {
  void* p = std::aligned_alloc(kPageAlignment, size);
  if (p == nullptr) throw std::bad_alloc();
  std::memset(p, 0, size);
  return static_cast<std::uint8_t*>(p);
}

}  // namespace

void OutputWriter::FreeAligned::operator()(std::uint8_t* p) const { std::free(p); }

OutputWriter::OutputWriter(UiPort& ui) : ui_(ui) {
  buffers_[0].reset(AllocateBuffer(kBufferSize));
  buffers_[1].reset(AllocateBuffer(kBufferSize));
}

OutputWriter::~OutputWriter() {
  // An output that was never closed is abandoned without messages.
  if (fd_ >= 0) {
    outputFailed_ = true;
    StopThread();
    ::close(fd_);
    fd_ = -1;
  }
}

bool OutputWriter::OpenOutput(const std::string& path, const OutputOptions& options) {
  if (fd_ >= 0) {
    outputFailed_ = true;
    StopThread();
    ::close(fd_);
    fd_ = -1;
  }
  // No O_TRUNC: an existing file is emptied only once it is known not to be
  // the file to keep. O_NONBLOCK: a FIFO without a reader fails at once.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(path.c_str(), kFlags | O_DIRECT, 0666);
  bool direct = true;
  if (fd < 0 && errno == EINVAL) {
    // The file system does not do direct I/O (tmpfs on older kernels).
    fd = ::open(path.c_str(), kFlags, 0666);
    direct = false;
  }
  if (fd < 0) {
    lastError_ = errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    lastError_ = errno;
    ::close(fd);
    return false;
  }
  if (options.keep && *options.keep == FileIdentity{st.st_dev, st.st_ino}) {
    lastError_ = EEXIST;
    ::close(fd);
    return false;
  }
  const bool regular = S_ISREG(st.st_mode);
  // Writes block again; a pipe or a device takes ordinary writes of exactly
  // what was appended.
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) flags &= regular ? ~O_NONBLOCK : ~(O_NONBLOCK | O_DIRECT);
  if ((regular && ::ftruncate(fd, 0) != 0) || flags < 0 || ::fcntl(fd, F_SETFL, flags) != 0) {
    lastError_ = errno;
    ::close(fd);
    return false;
  }
  if (!regular) direct = false;

  fd_ = fd;
  direct_ = direct;
  exactLength_ = options.exactLength || !regular;
  lastError_ = 0;
  handoff_ = 0;
  currentBuffer_ = 0;
  fillCount_ = 0;
  outputFailed_ = false;
  try {
    writer_ = std::thread([this] { WriterThread(); });
  } catch (const std::system_error&) {
    outputFailed_ = true;
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

bool OutputWriter::AppendPacket(std::span<const std::uint8_t> packet) {
  if (outputFailed_.load()) return false;
  while (!packet.empty()) {
    const std::uint32_t room = kBufferSize - fillCount_;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(packet.size(), room));
    std::memcpy(buffers_[currentBuffer_].get() + fillCount_, packet.data(), n);
    fillCount_ += n;
    packet = packet.subspan(n);
    if (fillCount_ < kBufferSize) break;

    // The buffer is complete: hand it over and wait until the other one is
    // free. A failed writer frees buffers at once, so this never hangs.
    handoff_.fetch_or(kFull[currentBuffer_]);
    handoff_.notify_all();
    currentBuffer_ ^= 1;
    WaitWhileFull(kFull[currentBuffer_]);
    fillCount_ = 0;
    if (outputFailed_.load()) return false;
  }
  return true;
}

bool OutputWriter::CloseOutput() {
  if (fd_ < 0) return false;
  const std::uint32_t padded = (fillCount_ + kTailAlignment - 1) & ~(kTailAlignment - 1);
  std::uint8_t* tail = buffers_[currentBuffer_].get();
  std::memset(tail + fillCount_, 0, padded - fillCount_);

  // The writer finishes the other buffer first, then the tail is written
  // from this thread: padded where direct I/O needs whole sectors, and then
  // cut back to the last byte where the file must end there.
  WaitWhileFull(kFull[currentBuffer_ ^ 1]);
  if (!outputFailed_.load()) {
    const bool pad = direct_.load() || !exactLength_;
    const std::uint32_t n = pad ? padded : fillCount_;
    if (n > 0 && !WriteFully(tail, n)) {
      ReportWriteFailure();
    } else if (exactLength_ && n != fillCount_ && !CutPadding(padded - fillCount_)) {
      ReportWriteFailure();
    }
  }

  StopThread();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  fillCount_ = 0;
  if (outputFailed_.exchange(true)) return false;
  if (!closed) {
    ShowMessage(ui_, StringId::OutputCloseError);
    return false;
  }
  return true;
}

bool OutputWriter::CutPadding(std::uint32_t padding) {
  const off_t end = ::lseek(fd_, 0, SEEK_CUR);
  if (end < 0 || ::ftruncate(fd_, end - static_cast<off_t>(padding)) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

void OutputWriter::WriterThread() {
  RaiseWriterPriority();
  for (std::uint32_t b = 0;; b ^= 1) {
    std::uint32_t state = handoff_.load();
    while ((state & (kFull[b] | kStop)) == 0) {
      handoff_.wait(state);
      state = handoff_.load();
    }
    if ((state & kStop) != 0) return;
    if (!WriteFully(buffers_[b].get(), kBufferSize)) break;
    handoff_.fetch_and(~kFull[b]);
    handoff_.notify_all();
  }

  // Failure: release the conversion thread, then drop every buffer handed
  // over until the output is closed.
  ReportWriteFailure();
  for (;;) {
    std::uint32_t state = handoff_.load();
    while ((state & (kFull[0] | kFull[1] | kStop)) == 0) {
      handoff_.wait(state);
      state = handoff_.load();
    }
    if ((state & kStop) != 0) return;
    handoff_.fetch_and(~(kFull[0] | kFull[1]));
    handoff_.notify_all();
  }
}

void OutputWriter::ReportWriteFailure() {
  outputFailed_ = true;
  handoff_.fetch_and(~(kFull[0] | kFull[1]));
  handoff_.notify_all();
  ShowMessage(ui_, StringId::OutputWriteError);
}

void OutputWriter::RaiseWriterPriority() {
  // Only a privileged process may lower a thread's nice value; failing is fine.
  const int tid = static_cast<int>(::gettid());
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current - 5);
}

bool OutputWriter::WriteFully(const std::uint8_t* data, std::uint32_t n) {
  while (n > 0) {
    const ssize_t written = ::write(fd_, data, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EINVAL && direct_.load()) {
        // Direct I/O refused at the first write (or for an odd tail length):
        // go on with ordinary writes.
        const int flags = ::fcntl(fd_, F_GETFL);
        if (flags >= 0 && ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) == 0) {
          direct_ = false;
          continue;
        }
      }
      lastError_ = errno;
      return false;
    }
    if (written == 0) {
      lastError_ = ENOSPC;
      return false;
    }
    data += written;
    n -= static_cast<std::uint32_t>(written);
  }
  return true;
}

void OutputWriter::WaitWhileFull(std::uint32_t bit) {
  std::uint32_t state = handoff_.load();
  while ((state & bit) != 0) {
    handoff_.wait(state);
    state = handoff_.load();
  }
}

void OutputWriter::StopThread() {
  handoff_.fetch_or(kStop);
  handoff_.notify_all();
  if (writer_.joinable()) writer_.join();
}

}  // namespace kelvor
