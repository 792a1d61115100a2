// Whole-file reads and writes for import and export.
#pragma once

#include <string>

namespace utils::btutil {

// Reads a regular file of at most maxBytes; a FIFO or device is refused without
// waiting on it. On failure error says why.
bool readWholeFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* error);

enum class WriteResult { Done, NotRegular, Failed };

// Writes the bytes to a new, exclusively created temporary file beside path and
// renames it over path, so a reader never sees half a file and a failed write
// leaves the old one. A target that is a symbolic link or not a regular file is
// left alone (NotRegular).
WriteResult replaceFile(const std::string& path, const std::string& bytes, std::string* error);

}  // namespace utils::btutil
