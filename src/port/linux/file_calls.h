// The file system calls by which saves put their content on disk for good:
// write, fsync, rename, ftruncate and fallocate. The adapters that write or
// replace files call them through here, so that a test can make the next of
// them fail with a chosen errno, as a full disk or a failing device would.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace utils::linuxport::filecalls {

enum class Call { Write, Fsync, Rename, Truncate, Allocate };

// After `skip` more calls of `call` pass, the following `count` calls (0: every
// call from then on) fail with errno `error` without reaching the system.
// Process-wide; for tests only.
void injectFault(Call call, int error, int count = 1, int skip = 0);
void clearFaults();
// How many calls failed by injection since the last clearFaults.
int injectedFailures();

ssize_t write(int fd, const void* bytes, size_t size);
int fsync(int fd);
int rename(const char* from, const char* to);
int ftruncate(int fd, off_t size);
int fallocate(int fd, int mode, off_t offset, off_t length);

}  // namespace utils::linuxport::filecalls
