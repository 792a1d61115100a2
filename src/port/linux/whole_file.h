// Whole-file reads and replacements for files a user names on a command line,
// where a hostile neighbour may have planted a FIFO or a symbolic link.
#pragma once

#include <cstddef>
#include <string>

namespace utils::linuxport {

// Reads a regular file of at most maxBytes. A FIFO, device or folder is refused
// without blocking on it. On failure error says why.
bool readRegularFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* error);

// What replaceRegularFile found at the target.
enum class ReplaceResult {
  Done,
  NotRegular,  // the target is a symbolic link, FIFO, device or folder: nothing written
  Failed,      // the write failed: the target is as it was
};

// Writes the bytes to a new temporary file beside path (created exclusively,
// never through a symbolic link), flushes it to disk and renames it over path,
// so a reader never sees half a file and a failed write leaves the old one. An
// existing target keeps its permission bits; it must be a regular file.
ReplaceResult replaceRegularFile(const std::string& path, const std::string& bytes, std::string* error);

}  // namespace utils::linuxport
