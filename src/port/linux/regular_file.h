// Opening a file that must be a regular file, for reading, without blocking:
// a FIFO, a device or a folder where a document is expected is refused before
// it is opened, and again if it was swapped in between. Symbolic links to a
// regular file are followed.
#pragma once

#include <sys/stat.h>

namespace utils::linuxport {

// A read-only descriptor (close-on-exec) of the regular file at path and its
// status, or -1 with *error set (ENOENT, EACCES, EINVAL for a file that is not
// a regular file, ...).
int openRegularFile(const char* path, struct stat* status, int* error);

}  // namespace utils::linuxport
