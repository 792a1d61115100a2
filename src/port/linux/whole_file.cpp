#include "port/linux/whole_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "port/linux/file_calls.h"
#include "port/linux/regular_file.h"

namespace utils::linuxport {
namespace {

std::string errnoText(int error) { return std::strerror(error); }

// Closes a descriptor when leaving a scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now; false (with errno) when the close reports a failed write.
  bool reset() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = filecalls::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

// A fresh name beside path that nobody can guess in advance.
std::string temporaryName(const std::string& path) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::random_device random;
  std::string name = path + ".tmp-";
  for (int i = 0; i < 4; ++i) {
    const unsigned word = random();
    for (int shift = 0; shift < 32; shift += 4) name.push_back(kDigits[(word >> shift) & 0xF]);
  }
  return name;
}

void syncFolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) filecalls::fsync(fd.get());
}

}  // namespace

bool readRegularFile(const std::string& path, size_t maxBytes, std::string* bytes, std::string* error) {
  struct stat info;
  int openError = 0;
  Descriptor fd(openRegularFile(path.c_str(), &info, &openError));
  if (fd.get() < 0) {
    *error = openError == EINVAL ? "not a regular file" : errnoText(openError);
    return false;
  }
  if (static_cast<uint64_t>(info.st_size) > maxBytes) {
    *error = "the file is larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB";
    return false;
  }
  bytes->assign(static_cast<size_t>(info.st_size), '\0');
  size_t done = 0;
  while (done < bytes->size()) {
    const ssize_t got = ::read(fd.get(), bytes->data() + done, bytes->size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = errnoText(errno);
      return false;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  char extra;
  if (done != bytes->size() || ::read(fd.get(), &extra, 1) != 0) {
    *error = "the file changed while it was read";
    return false;
  }
  return true;
}

ReplaceResult replaceRegularFile(const std::string& path, const std::string& bytes, std::string* error) {
  bool replacing = false;
  mode_t mode = 0666;  // a new file: narrowed by the umask, as any new file
  struct stat target;
  if (::lstat(path.c_str(), &target) == 0) {
    replacing = true;
    if (!S_ISREG(target.st_mode)) {
      *error = S_ISLNK(target.st_mode) ? "it is a symbolic link" : "it is not a regular file";
      return ReplaceResult::NotRegular;
    }
    mode = target.st_mode & 07777;
  } else if (errno != ENOENT) {
    *error = errnoText(errno);
    return ReplaceResult::Failed;
  }

  // O_EXCL with O_CREAT fails on any existing name, a planted symbolic link
  // included; a fresh random name is tried a few times before giving up.
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
    temporary = temporaryName(path);
    // Replacing: made private first, given the old file's mode before the rename.
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, replacing ? 0600 : mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *error = errnoText(errno);
    return ReplaceResult::Failed;
  }
  Descriptor file(fd);
  bool ok = writeAll(file.get(), bytes) && (!replacing || ::fchmod(file.get(), mode) == 0) &&
            filecalls::fsync(file.get()) == 0;
  ok = file.reset() && ok;
  if (ok && filecalls::rename(temporary.c_str(), path.c_str()) == 0) {
    syncFolderOf(path);
    return ReplaceResult::Done;
  }
  *error = errnoText(errno);
  ::unlink(temporary.c_str());
  return ReplaceResult::Failed;
}

}  // namespace utils::linuxport
