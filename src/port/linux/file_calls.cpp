#include "port/linux/file_calls.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "port/linux/fault_points.h"

namespace utils::linuxport::filecalls {
namespace {

FaultPoints<5>& faults() {
  static FaultPoints<5> table;
  return table;
}

// False, with errno set, when an injected fault stands in for this call.
bool proceed(Call call) {
  const int error = faults().next(static_cast<size_t>(call));
  if (error == 0) return true;
  errno = error;
  return false;
}

}  // namespace

void injectFault(Call call, int error, int count, int skip) {
  faults().inject(static_cast<size_t>(call), error, count, skip);
}
void clearFaults() { faults().clear(); }
int injectedFailures() { return faults().failures(); }

ssize_t write(int fd, const void* bytes, size_t size) { return proceed(Call::Write) ? ::write(fd, bytes, size) : -1; }
int fsync(int fd) { return proceed(Call::Fsync) ? ::fsync(fd) : -1; }
int rename(const char* from, const char* to) { return proceed(Call::Rename) ? ::rename(from, to) : -1; }
int ftruncate(int fd, off_t size) { return proceed(Call::Truncate) ? ::ftruncate(fd, size) : -1; }
int fallocate(int fd, int mode, off_t offset, off_t length) {
  return proceed(Call::Allocate) ? ::fallocate(fd, mode, offset, length) : -1;
}

}  // namespace utils::linuxport::filecalls
