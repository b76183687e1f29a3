#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "io/output_writer.h"

namespace kelvor {

namespace {

constexpr std::size_t kPageAlignment = 4096;

}  // namespace

std::uint8_t* OutputWriter::AllocateBuffer(std::size_t size) {
  void* p = std::aligned_alloc(kPageAlignment, size);
  if (p == nullptr) throw std::bad_alloc();
  std::memset(p, 0, size);
  return static_cast<std::uint8_t*>(p);
}

void OutputWriter::FreeAligned::operator()(std::uint8_t* p) const { std::free(p); }

bool OutputWriter::CreateOutputFile(const std::string& path, const OutputOptions& options, bool& regular) {
  // No O_TRUNC: an existing file is emptied only once it is known not to be
  // the file to keep. O_NONBLOCK: a FIFO without a reader fails at once.
  const int kFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (options.mustBeNew ? O_EXCL : 0);
  int fd = ::open(path.c_str(), kFlags | O_DIRECT, 0666);
  bool direct = true;
  if (fd < 0 && errno == EINVAL) {
    // The file system does not do direct I/O (tmpfs on older kernels).
    fd = ::open(path.c_str(), kFlags, 0666);
    direct = false;
  }
  if (fd < 0) {
    lastError_ = options.mustBeNew && errno == EEXIST ? kCreatedMeanwhile : errno;
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    lastError_ = errno;
    ::close(fd);
    return false;
  }
  if (options.keep && *options.keep == FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                                                    static_cast<std::uint64_t>(st.st_ino)}) {
    lastError_ = EEXIST;
    ::close(fd);
    return false;
  }
  regular = S_ISREG(st.st_mode);
  // Two runs never write one file: the second finds the first's lock before
  // it empties anything. A file system without locks is written as before.
  if (regular && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    lastError_ = kInUse;
    ::close(fd);
    return false;
  }
  if (regular && options.mustBeEmpty && (::fstat(fd, &st) != 0 || st.st_size != 0)) {
    lastError_ = kCreatedMeanwhile;
    ::close(fd);
    return false;
  }
  // Writes block again; a pipe or a device takes ordinary writes of exactly
  // what was appended.
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) flags &= regular ? ~O_NONBLOCK : ~(O_NONBLOCK | O_DIRECT);
  if ((regular && ::ftruncate(fd, 0) != 0) || flags < 0 || ::fcntl(fd, F_SETFL, flags) != 0) {
    lastError_ = errno;
    ::close(fd);
    return false;
  }
  file_ = fd;
  direct_ = direct && regular;
  return true;
}

bool OutputWriter::CloseFile() {
  const bool closed = ::close(static_cast<int>(file_)) == 0;
  file_ = kNoFile;
  return closed;
}

bool OutputWriter::CutPadding(std::uint32_t padding) {
  const int fd = static_cast<int>(file_);
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  if (end < 0 || ::ftruncate(fd, end - static_cast<off_t>(padding)) != 0) {
    lastError_ = errno;
    return false;
  }
  return true;
}

bool OutputWriter::WriteHeadAtStart() {
  const int fd = static_cast<int>(file_);
  // A few hundred bytes at offset 0 are no whole sector: ordinary I/O.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ((flags & O_DIRECT) != 0 && ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0)) {
    lastError_ = errno;
    return false;
  }
  direct_ = false;
  std::uint32_t done = 0;
  while (done < headSize_) {
    const ssize_t n = ::pwrite(fd, head_.data() + done, headSize_ - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError_ = n < 0 ? errno : ENOSPC;
      return false;
    }
    done += static_cast<std::uint32_t>(n);
  }
  return true;
}

void OutputWriter::WaitForHandoff(std::uint32_t seen) { handoff_.wait(seen); }

void OutputWriter::AnnounceHandoff() { handoff_.notify_all(); }

void OutputWriter::RaiseWriterPriority() {
  // Only a privileged process may lower a thread's nice value; failing is fine.
  const int tid = static_cast<int>(::gettid());
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  if (errno == 0) (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), current - 5);
}

bool OutputWriter::WriteFully(const std::uint8_t* data, std::uint32_t n) {
  const int fd = static_cast<int>(file_);
  while (n > 0) {
    const ssize_t written = ::write(fd, data, n);
    if (written < 0) {
      if (errno == EINTR) continue;
      if (errno == EINVAL && direct_.load()) {
        // Direct I/O refused at the first write (or for an odd tail length):
        // go on with ordinary writes.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) == 0) {
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

}  // namespace kelvor
