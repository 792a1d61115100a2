#include "port/linux/file_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "port/linux/file_calls.h"

namespace utils::linuxport {
namespace {

constexpr DWORD kAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr int kMostLinks = 40;      // symbolic links followed, as the kernel does
constexpr size_t kMostNameBytes = 200;
constexpr char kTemporaryMark[] = ".xmlsave-";
constexpr int kSuffixLength = 6;

bool refusesWriting(int error) { return error == EACCES || error == EPERM || error == EROFS; }

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// The file path finally names, following symbolic links in its last
// component; a link that names nothing gives the path it names.
bool followLinks(const std::string& path, std::string* target, int* error) {
  std::string current = path;
  for (int hop = 0; hop <= kMostLinks; ++hop) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      *target = current;
      return true;
    }
    std::vector<char> link(static_cast<size_t>(status.st_size > 0 ? status.st_size : 255) + 1);
    const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<size_t>(length) >= link.size()) {
      *error = length < 0 ? errno : ELOOP;  // a link that changed while read is retried as a loop
      return false;
    }
    std::string next(link.data(), static_cast<size_t>(length));
    if (next.empty()) {
      *error = ENOENT;
      return false;
    }
    if (next[0] != '/') {
      const size_t slash = current.rfind('/');
      if (slash != std::string::npos) next = current.substr(0, slash + 1) + next;
    }
    current = next;
  }
  *error = ELOOP;
  return false;
}

void splitPath(const std::string& path, std::string* folder, std::string* name) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder->assign(1, '.');
    name->assign(path);
  } else {
    folder->assign(path, 0, slash == 0 ? 1 : slash);
    name->assign(path, slash + 1, std::string::npos);
  }
}

// ".NAME.xmlsave-": the start of the names of the target's temporary files.
// Long names are shortened at a character boundary, so the whole name fits.
std::string temporaryPrefix(const std::string& name) {
  size_t length = name.size();
  if (length > kMostNameBytes) {
    length = kMostNameBytes;
    while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  }
  std::string prefix(1, '.');
  prefix.append(name, 0, length);
  prefix.append(kTemporaryMark);
  return prefix;
}

std::string randomSuffix() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::atomic<uint64_t> counter{0};
  unsigned char bytes[kSuffixLength];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mix = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(::getpid()) ^
                   (counter.fetch_add(1) * 0x9E3779B97F4A7C15);
    for (unsigned char& byte : bytes) {
      byte = static_cast<unsigned char>(mix);
      mix = (mix >> 8) | (mix << 56);
    }
  }
  std::string suffix;
  for (unsigned char byte : bytes) suffix += kLetters[byte % (sizeof kLetters - 1)];
  return suffix;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Removes the temporary files of earlier saves of this target whose writer is
// gone: a writer holds a lock on its temporary file until it is renamed, and
// the system drops the lock when the process ends, however it ends.
void removeStaleTemporaries(const std::string& folder, const std::string& prefix) {
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return;
  DIR* listing = ::fdopendir(folderFd);
  if (listing == nullptr) {
    ::close(folderFd);
    return;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, ::closedir);
  while (const dirent* entry = ::readdir(listing)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0 ||
        std::strlen(entry->d_name) != prefix.size() + kSuffixLength) {
      continue;
    }
    Descriptor stale(::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    struct stat named {};
    if (stale.get() < 0 || ::fstat(stale.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        ::flock(stale.get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    if (::fstatat(folderFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(opened, named)) {
      ::unlinkat(folderFd, entry->d_name, 0);
    }
  }
}

// Copies every extended attribute of from to to (ACLs included); false when
// one of them cannot be read or set.
bool copyExtendedAttributes(int from, int to) {
  ssize_t size = ::flistxattr(from, nullptr, 0);
  if (size == 0 || (size < 0 && (errno == ENOTSUP || errno == ENOSYS))) return true;
  if (size < 0) return false;
  std::vector<char> names(static_cast<size_t>(size));
  size = ::flistxattr(from, names.data(), names.size());
  if (size < 0) return false;
  std::vector<char> value;
  for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
    const ssize_t length = ::fgetxattr(from, name, nullptr, 0);
    if (length < 0) return false;
    value.resize(static_cast<size_t>(length) + 1);
    const ssize_t read = ::fgetxattr(from, name, value.data(), value.size());
    if (read < 0 || ::fsetxattr(to, name, value.data(), static_cast<size_t>(read), 0) != 0) return false;
  }
  return true;
}

}  // namespace

DWORD fileErrorToWin32(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return kAccessDenied;
    case ENOSPC:
    case EDQUOT: return 112;        // ERROR_DISK_FULL
    case ENAMETOOLONG: return 206;  // ERROR_FILENAME_EXCED_RANGE
    case ELOOP: return 1921;        // ERROR_CANT_RESOLVE_FILENAME
    default: return 29;             // ERROR_WRITE_FAULT
  }
}

FileReplacement::~FileReplacement() {
  discardTemporary();
  if (existingFd_ >= 0) ::close(existingFd_);
}

void FileReplacement::discardTemporary() {
  if (temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  temporary_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

DWORD FileReplacement::begin(const std::string& path) {
  int error = 0;
  if (path.empty()) return fileErrorToWin32(ENOENT);
  if (!followLinks(path, &target_, &error)) return fileErrorToWin32(error);
  splitPath(target_, &folder_, &name_);
  if (name_.empty()) return fileErrorToWin32(EISDIR);

  // Only a regular file is replaced; anything else (a folder, a FIFO, a device)
  // is refused before it is opened, since opening some of them has effects.
  struct stat named {};
  const bool exists = ::lstat(target_.c_str(), &named) == 0;
  if (!exists && errno != ENOENT) return fileErrorToWin32(errno);
  if (!exists) return startTemporary(nullptr);
  if (!S_ISREG(named.st_mode)) return kAccessDenied;
  // A file the process may not write is not replaced either.
  existingFd_ = ::open(target_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (existingFd_ < 0) return fileErrorToWin32(errno);
  struct stat existing {};
  if (::fstat(existingFd_, &existing) != 0) return fileErrorToWin32(errno);
  if (!S_ISREG(existing.st_mode) || !sameFile(existing, named)) return kAccessDenied;
  // A new file would take the other names' place for only one of them.
  if (existing.st_nlink > 1) {
    inPlace_ = true;
    fd_ = existingFd_;
    return 0;
  }
  return startTemporary(&existing);
}

DWORD FileReplacement::startTemporary(const struct stat* existing) {
  const std::string prefix = temporaryPrefix(name_);
  removeStaleTemporaries(folder_, prefix);

  // Created with the usual permissions for a new file, or private until it has
  // the existing file's owner and mode.
  const mode_t mode = existing != nullptr ? 0600 : 0666;
  int error = 0;
  for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
    const std::string candidate = folder_ + "/" + prefix + randomSuffix();
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
      error = errno;
      if (error == EEXIST) continue;
      break;
    }
    // Held until the rename, so that a later save knows the file is in use.
    struct stat created {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &created) != 0 || ::lstat(candidate.c_str(), &named) != 0 ||
        !sameFile(created, named)) {
      ::close(fd);  // another save took it for stale first; it removes it
      continue;
    }
    fd_ = fd;
    temporary_ = candidate;
  }
  if (fd_ < 0) {
    // A folder that takes no new file: an existing file is written in place.
    if (existing != nullptr && refusesWriting(error)) {
      inPlace_ = true;
      fd_ = existingFd_;
      return 0;
    }
    return fileErrorToWin32(error != 0 ? error : EEXIST);
  }
  if (existing == nullptr) return 0;

  struct stat created {};
  bool kept = ::fstat(fd_, &created) == 0;
  if (kept && (created.st_uid != existing->st_uid || created.st_gid != existing->st_gid)) {
    kept = ::fchown(fd_, existing->st_uid, existing->st_gid) == 0;
  }
  // After the owner: changing it clears the set-user-ID and set-group-ID bits.
  kept = kept && ::fchmod(fd_, existing->st_mode & 07777) == 0;
  kept = kept && copyExtendedAttributes(existingFd_, fd_);
  if (!kept) {
    // The new file could not be made the old one's equal: rewrite the old one.
    discardTemporary();
    inPlace_ = true;
    fd_ = existingFd_;
  }
  return 0;
}

DWORD FileReplacement::reserve(uint64_t size) {
  if (!inPlace_ || size == 0) return 0;
  if (filecalls::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(size)) == 0) return 0;
  // A file system that cannot reserve room is written without it.
  if (errno == EOPNOTSUPP || errno == ENOSYS) return 0;
  return fileErrorToWin32(errno);
}

DWORD FileReplacement::commit(uint64_t size) {
  if (fd_ < 0) return fileErrorToWin32(EBADF);
  if (inPlace_) {
    if (filecalls::ftruncate(fd_, static_cast<off_t>(size)) != 0 || filecalls::fsync(fd_) != 0)
      return fileErrorToWin32(errno);
    return 0;
  }
  if (filecalls::fsync(fd_) != 0) return fileErrorToWin32(errno);
  if (filecalls::rename(temporary_.c_str(), target_.c_str()) != 0) return fileErrorToWin32(errno);
  temporary_.clear();
  ::close(fd_);
  fd_ = -1;
  // The rename itself survives a crash once the folder is synced.
  Descriptor folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() >= 0) filecalls::fsync(folder.get());
  return 0;
}

}  // namespace utils::linuxport
