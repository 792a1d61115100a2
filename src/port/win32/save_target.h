// Where a document is written so that a failure or a crash does not leave a
// damaged file where a good one was: a temporary file beside the target (the
// file a link names), which then replaces the target keeping its attributes,
// security and streams. A file with more than one hard link, or in a folder
// that takes no new file, is written in place. Temporary files of saves that
// died are removed first; one in use cannot be removed, since its writer holds
// it open without sharing deletion.
#pragma once

#include <windows.h>

#include <string>

namespace utils::win32port {

class SaveTarget {
 public:
  SaveTarget() = default;
  ~SaveTarget();  // deletes a temporary file that was not committed
  SaveTarget(const SaveTarget&) = delete;
  SaveTarget& operator=(const SaveTarget&) = delete;

  // Prepares to write path. Refused (nonzero Win32 error): a folder, a device
  // or pipe, a read-only file, a folder that does not exist.
  DWORD begin(const wchar_t* path);
  // The file the document is to be saved to.
  const std::wstring& writePath() const { return inPlace_ ? target_ : temporary_; }
  // Makes what was written the target's content.
  DWORD commit();

 private:
  DWORD startTemporary(bool exists);

  std::wstring target_;
  std::wstring temporary_;
  HANDLE hold_ = INVALID_HANDLE_VALUE;  // keeps the temporary file from being deleted meanwhile
  bool inPlace_ = false;
  bool exists_ = false;
};

}  // namespace utils::win32port
