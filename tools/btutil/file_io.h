// Whole-file reads and writes for import and export.
#pragma once

#include <string>

namespace utils::btutil {

// Reads a regular file of at most maxBytes. On failure error says why.
bool readWholeFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* error);

// Writes the bytes to a temporary file beside path and renames it over path, so
// a reader never sees half a file and a failed write leaves the old one.
bool replaceFile(const std::string& path, const std::string& bytes, std::string* error);

}  // namespace utils::btutil
