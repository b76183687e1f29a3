#include <windows.h>

#include <malloc.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "io/output_writer.h"
#include "io/windows_text.h"

namespace kelvor {

namespace {

// Unbuffered writes need buffers aligned to the volume's sector size; a
// page is a multiple of every sector size in use.
constexpr std::size_t kPageAlignment = 4096;

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

int LastError() { return ErrnoFromSystemError(::GetLastError()); }

}  // namespace

std::uint8_t* OutputWriter::AllocateBuffer(std::size_t size) {
  void* p = ::_aligned_malloc(size, kPageAlignment);
  if (p == nullptr) throw std::bad_alloc();
  std::memset(p, 0, size);
  return static_cast<std::uint8_t*>(p);
}

void OutputWriter::FreeAligned::operator()(std::uint8_t* p) const { ::_aligned_free(p); }

bool OutputWriter::CreateOutputFile(const std::string& path, const OutputOptions& options, bool& regular) {
  // OPEN_ALWAYS, not CREATE_ALWAYS: an existing file is emptied only once
  // it is known not to be the file to keep. Readers may look at the file
  // while it is written.
  // No write sharing: a second run that opens the file while this one
  // writes it is refused by the system. A new file is created only if it
  // still does not exist.
  const std::wstring wide = WideFromUtf8(path);
  const DWORD disposition = options.mustBeNew ? CREATE_NEW : OPEN_ALWAYS;
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING, nullptr);
  bool direct = true;
  if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // The device does not take unbuffered writes.
    h = ::CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    direct = false;
  }
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    lastError_ = error == ERROR_FILE_EXISTS && options.mustBeNew ? kCreatedMeanwhile
                 : error == ERROR_SHARING_VIOLATION              ? kInUse
                                                                 : ErrnoFromSystemError(error);
    return false;
  }
  regular = ::GetFileType(h) == FILE_TYPE_DISK;
  if (regular) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (::GetFileInformationByHandle(h, &info) == 0) {
      lastError_ = LastError();
      ::CloseHandle(h);
      return false;
    }
    const FileIdentity identity{info.dwVolumeSerialNumber,
                                (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    if (options.keep && *options.keep == identity) {
      lastError_ = EEXIST;
      ::CloseHandle(h);
      return false;
    }
    if (options.mustBeEmpty && (info.nFileSizeHigh != 0 || info.nFileSizeLow != 0)) {
      lastError_ = kCreatedMeanwhile;
      ::CloseHandle(h);
      return false;
    }
    if (::SetEndOfFile(h) == 0) {  // the file pointer is at 0: empties the file
      lastError_ = LastError();
      ::CloseHandle(h);
      return false;
    }
  }
  file_ = reinterpret_cast<std::intptr_t>(h);
  direct_ = direct && regular;
  return true;
}

bool OutputWriter::CloseFile() {
  const bool closed = ::CloseHandle(AsHandle(file_)) != 0;
  file_ = kNoFile;
  return closed;
}

bool OutputWriter::CutPadding(std::uint32_t padding) {
  LARGE_INTEGER back{};
  back.QuadPart = -static_cast<LONGLONG>(padding);
  if (::SetFilePointerEx(AsHandle(file_), back, nullptr, FILE_CURRENT) == 0 || ::SetEndOfFile(AsHandle(file_)) == 0) {
    lastError_ = LastError();
    return false;
  }
  return true;
}

// The C++ library's atomic wait loses wake-ups on this target; the
// system's own wait on an address does not.
void OutputWriter::WaitForHandoff(std::uint32_t seen) {
  static_assert(sizeof handoff_ == sizeof seen);
  ::WaitOnAddress(reinterpret_cast<volatile void*>(&handoff_), &seen, sizeof seen, INFINITE);
}

void OutputWriter::AnnounceHandoff() { ::WakeByAddressAll(reinterpret_cast<void*>(&handoff_)); }

void OutputWriter::RaiseWriterPriority() {
  // The writer keeps the conversion from waiting on a full buffer.
  (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

namespace {

// The same file, opened again for ordinary (buffered) writes at the same
// position; the old handle is closed. Nothing when that fails.
HANDLE ReopenBuffered(HANDLE h) {
  const HANDLE again = ::ReOpenFile(h, GENERIC_WRITE, FILE_SHARE_READ, 0);
  if (again == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER position{};
  const LARGE_INTEGER zero{};
  if (::SetFilePointerEx(h, zero, &position, FILE_CURRENT) == 0 ||
      ::SetFilePointerEx(again, position, nullptr, FILE_BEGIN) == 0) {
    ::CloseHandle(again);
    return nullptr;
  }
  ::CloseHandle(h);
  return again;
}

}  // namespace

bool OutputWriter::WriteHeadAtStart() {
  // The handle may take whole sectors only (direct I/O), and a second handle
  // for ordinary writes would clash with its own sharing rules: the file's
  // first bytes, kept as they left the buffers, go back whole with the head
  // laid over them. The file is longer than them once a buffer has left.
  static_assert(kBufferSize >= std::tuple_size_v<decltype(firstBytes_)>);
  std::uint8_t* sector = buffers_[currentBuffer_].get();
  std::memcpy(sector, firstBytes_.data(), firstBytes_.size());
  std::memcpy(sector, head_.data(), headSize_);
  const LARGE_INTEGER zero{};
  if (::SetFilePointerEx(AsHandle(file_), zero, nullptr, FILE_BEGIN) == 0) {
    lastError_ = LastError();
    return false;
  }
  return WriteFully(sector, static_cast<std::uint32_t>(firstBytes_.size()));
}

bool OutputWriter::WriteFully(const std::uint8_t* data, std::uint32_t n) {
  while (n > 0) {
    DWORD written = 0;
    if (::WriteFile(AsHandle(file_), data, n, &written, nullptr) == 0) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_INVALID_PARAMETER && direct_.load()) {
        // Unbuffered writes refused (a sector larger than the tail's
        // padding): go on with ordinary writes.
        if (const HANDLE again = ReopenBuffered(AsHandle(file_)); again != nullptr) {
          file_ = reinterpret_cast<std::intptr_t>(again);
          direct_ = false;
          continue;
        }
      }
      lastError_ = ErrnoFromSystemError(code);
      return false;
    }
    if (written == 0) {
      lastError_ = ENOSPC;
      return false;
    }
    data += written;
    n -= written;
  }
  return true;
}

}  // namespace kelvor
