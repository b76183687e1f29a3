#pragma once
// Which file a path names: the device (volume) and the file's number on it,
// so that a name given twice, "./name", a symbolic link and a hard link are
// all known as the same file.
#include <cstdint>
#include <optional>
#include <string>

namespace kelvor {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The file `path` names after following links; nothing when it does not
// exist (or cannot be looked at).
std::optional<FileIdentity> IdentityOfPath(const std::string& path);

// The file standard input reads (a redirected file, a pipe, a terminal).
std::optional<FileIdentity> IdentityOfStandardInput();

// The error for a directory, a FIFO or a device where a regular file is
// needed (errno values are positive).
inline constexpr int kNotRegularFile = -1;
// An output that did not exist when it was checked was created by another
// program before it could be; an output another run of this program is
// writing (its lock is taken).
inline constexpr int kCreatedMeanwhile = -2;
inline constexpr int kInUse = -3;

// The reason text for an errno value or one of the errors above.
std::string ReasonText(int error);

}  // namespace kelvor
