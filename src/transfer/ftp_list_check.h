// Checks a file-name list block that comes from outside (a file, a pipe, a peer)
// before it is handed to the functions that trust their block: every string must
// end inside the bytes given, and the list terminator must stand right before the
// two spare bytes. The size field is not checked, as the readers never read it.
#pragma once

#include <cstddef>
#include <string>

#include "utils/wintypes.h"

namespace utils::transfer {

// True when data (size bytes, any alignment) is a well-formed block; otherwise
// false with a one-line reason in error. withLead: the first string is a leading
// string (which may be empty) rather than the first name.
bool checkFtpFileList(const BYTE* data, size_t size, bool withLead, std::string* error);

}  // namespace utils::transfer
