#include <windows.h>

#include "io/read_only_file.h"
#include "io/windows_text.h"

namespace kelvor {
namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

int LastError() { return ErrnoFromSystemError(::GetLastError()); }

}  // namespace

int ReadOnlyFile::open(const std::string& path) {
  close();
  // Others may go on writing, renaming or deleting the file (a recording
  // still being made). Backup semantics opens a directory too, so that it
  // is refused as one rather than as a missing file.
  const HANDLE h = ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return LastError();
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

void ReadOnlyFile::close() {
  if (mapping_ != 0) {
    ::CloseHandle(AsHandle(mapping_));
    mapping_ = 0;
  }
  if (handle_ == kNone) return;
  ::CloseHandle(AsHandle(handle_));
  handle_ = kNone;
}

int ReadOnlyFile::status(FileStatus& status) const {
  status = {};
  // A pipe, the console or a device: no size, not regular.
  if (::GetFileType(AsHandle(handle_)) != FILE_TYPE_DISK) return 0;
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(AsHandle(handle_), &info) == 0) return LastError();
  status.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.regular = !status.directory;
  status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  status.identity = {info.dwVolumeSerialNumber,
                     (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return 0;
}

std::optional<std::uint64_t> ReadOnlyFile::currentSize() const {
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(AsHandle(handle_), &size) == 0 || size.QuadPart < 0) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

const std::uint8_t* ReadOnlyFile::map(std::uint64_t offset, std::size_t size, int& error) {
  if (mapping_ == 0) {
    // One mapping object for the file as long as it is at open; the views
    // are windows into it.
    const HANDLE m = ::CreateFileMappingW(AsHandle(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (m == nullptr) {
      error = LastError();
      return nullptr;
    }
    mapping_ = reinterpret_cast<std::intptr_t>(m);
  }
  void* p = ::MapViewOfFile(AsHandle(mapping_), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                            static_cast<DWORD>(offset & 0xFFFFFFFFu), size);
  if (p == nullptr) {
    error = LastError();
    return nullptr;
  }
  return static_cast<const std::uint8_t*>(p);
}

void ReadOnlyFile::unmap(const std::uint8_t* view, std::size_t) {
  if (view == nullptr) return;
  void* base = const_cast<std::uint8_t*>(view);
  // The mapping guard may have put zeroed memory in place of a view whose
  // file failed under it; that is released, not unmapped.
  MEMORY_BASIC_INFORMATION info{};
  if (::VirtualQuery(base, &info, sizeof info) != 0 && info.Type == MEM_PRIVATE) {
    ::VirtualFree(base, 0, MEM_RELEASE);
    return;
  }
  ::UnmapViewOfFile(base);
}

}  // namespace kelvor
