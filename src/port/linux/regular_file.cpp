#include "port/linux/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace utils::linuxport {

int openRegularFile(const char* path, struct stat* status, int* error) {
  // Looked at first, because opening a device can have effects of its own.
  struct stat named {};
  if (::stat(path, &named) != 0) {
    *error = errno;
    return -1;
  }
  if (!S_ISREG(named.st_mode)) {
    *error = EINVAL;
    return -1;
  }
  // Without blocking, in case a FIFO took the file's place meanwhile.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = errno;
    return -1;
  }
  if (::fstat(fd, status) != 0 || !S_ISREG(status->st_mode) || status->st_dev != named.st_dev ||
      status->st_ino != named.st_ino) {
    ::close(fd);
    *error = EINVAL;
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace utils::linuxport
