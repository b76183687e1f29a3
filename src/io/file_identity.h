#pragma once
// Which file a path or an open descriptor is: device and inode, so that a
// name given twice, "./name", a symbolic link and a hard link are all known
// as the same file.
#include <sys/types.h>

#include <optional>
#include <string>

namespace kelvor {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The file `path` names after following links; nothing when it does not
// exist (or cannot be looked at).
std::optional<FileIdentity> IdentityOfPath(const std::string& path);
std::optional<FileIdentity> IdentityOfDescriptor(int fd);

// What OpenRegularFileForReading gives as the error for a directory, a FIFO
// or a device (errno values are positive).
inline constexpr int kNotRegularFile = -1;

// Opens `path` for reading without blocking on a FIFO or a device, and
// keeps it open only when it is a regular file. Returns the descriptor, or
// -1 with `error` set to errno or kNotRegularFile.
int OpenRegularFileForReading(const std::string& path, int& error);

// The reason text for an errno value or kNotRegularFile.
std::string ReasonText(int error);

}  // namespace kelvor
