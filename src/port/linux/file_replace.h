// Replacing a file's content so that a failure or a crash does not leave a
// damaged file where a good one was. The new content goes to a temporary file
// beside the target, which takes the target's owner, mode and extended
// attributes and is then renamed over it. When that would lose something the
// caller relies on, the file is rewritten in place instead (see begin()).
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "utils/wintypes.h"

namespace utils::linuxport {

// The Win32 error code for an errno value of a file operation.
DWORD fileErrorToWin32(int error);

class FileReplacement {
 public:
  FileReplacement() = default;
  ~FileReplacement();  // discards a temporary file that was not committed
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Prepares to write path. A symbolic link is followed to the file it names.
  // Refused (nonzero Win32 error): a target that is not a regular file, one the
  // process may not write, and a folder that does not exist. Written in place
  // (keeping the file's identity): a file with more than one hard link, one in
  // a folder that cannot take a temporary file, and one whose owner or extended
  // attributes a new file could not be given. Stale temporary files that earlier
  // saves of the same target left behind (a crash) are removed first.
  DWORD begin(const std::string& path);

  // Where the content goes, written sequentially from offset 0.
  int fd() const { return fd_; }
  bool inPlace() const { return inPlace_; }

  // In place only: reserves room for size bytes before anything is
  // overwritten, so that a full disk fails before the old content is touched.
  DWORD reserve(uint64_t size);

  // Makes the content written so far (size bytes) the file's content, durably.
  DWORD commit(uint64_t size);

 private:
  DWORD startTemporary(const struct stat* existing);
  void discardTemporary();

  int fd_ = -1;
  int existingFd_ = -1;
  bool inPlace_ = false;
  std::string target_;
  std::string folder_;
  std::string name_;
  std::string temporary_;
};

}  // namespace utils::linuxport
