#include <windows.h>

#include "io/file_identity.h"
#include "io/windows_text.h"

namespace kelvor {

namespace {

std::optional<FileIdentity> IdentityOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(h, &info) == 0) return std::nullopt;
  // The volume's serial number and the file's index on it.
  return FileIdentity{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
  // No access asked for: the attributes of a file another program holds
  // open are still readable. Backup semantics lets a directory open too.
  const HANDLE h = ::CreateFileW(WideFromUtf8(path).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  const auto identity = IdentityOfHandle(h);
  ::CloseHandle(h);
  return identity;
}

std::optional<FileIdentity> IdentityOfStandardInput() {
  const HANDLE h = ::GetStdHandle(STD_INPUT_HANDLE);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return std::nullopt;
  return IdentityOfHandle(h);
}

}  // namespace kelvor
