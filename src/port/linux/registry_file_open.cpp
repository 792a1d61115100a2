// RegistryFile: the per-process table of files, opening a file, checking and
// creating its layout, and rewriting a first-release file to the current layout.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "port/linux/registry_file.h"

namespace utils::linuxport {
namespace {

mode_t fileMode(RegistryFile::Kind kind) { return kind == RegistryFile::Kind::Machine ? 0644 : 0600; }
mode_t folderMode(RegistryFile::Kind kind) { return kind == RegistryFile::Kind::Machine ? 0755 : 0700; }

// Creates the missing folders above path, each with exactly mode whatever the
// umask (folders that exist already are left as they are). False when one
// cannot be made.
bool makeParentFolders(const std::string& path, mode_t mode) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (parent.empty()) return true;
  std::filesystem::path partial;
  for (const auto& component : parent) {
    partial /= component;
    if (::mkdir(partial.c_str(), mode) == 0) {
      if (::chmod(partial.c_str(), mode) != 0) return false;
    } else if (errno != EEXIST) {
      return false;
    }
  }
  return true;
}

// A failure that will not go away by trying again: the file is not a store, is
// damaged, or may not be read.
bool isLasting(DWORD error) {
  return error == ERROR_BADDB || error == ERROR_REGISTRY_CORRUPT || error == ERROR_ACCESS_DENIED ||
         error == ERROR_CANTOPEN;
}

// Stable per-process table of open files, keyed by absolute path.
struct FileTable {
  std::mutex mutex;
  std::map<std::string, std::weak_ptr<RegistryFile>> files;  // GUARDED_BY(mutex)
};

}  // namespace

DWORD errorFromSqlite(int code) {
  constexpr int kIoErrLock = sqlite::kIoErr | (15 << 8);
  constexpr int kIoErrRdLock = sqlite::kIoErr | (9 << 8);
  constexpr int kIoErrUnlock = sqlite::kIoErr | (8 << 8);
  constexpr int kIoErrCheckReservedLock = sqlite::kIoErr | (14 << 8);
  constexpr int kIoErrNoMem = sqlite::kIoErr | (12 << 8);
  constexpr int kReadOnlyRollback = sqlite::kReadOnly | (3 << 8);
  constexpr int kProtocol = 15;
  constexpr int kConstraint = 19;
  constexpr int kTooBig = 18;
  constexpr int kAuth = 23;
  switch (sqlite::primaryCode(code)) {
    case sqlite::kOk:
    case sqlite::kRow:
    case sqlite::kDone: return ERROR_SUCCESS;
    case sqlite::kBusy: return ERROR_BUSY;
    case sqlite::kLocked:
    case kProtocol: return ERROR_LOCK_FAILED;
    case sqlite::kNoMem: return ERROR_NOT_ENOUGH_MEMORY;
    case sqlite::kReadOnly:
      // A hot journal that this process may not roll back: the last writer died
      // mid-commit and only a process allowed to write can recover the file.
      return code == kReadOnlyRollback ? ERROR_REGISTRY_IO_FAILED : ERROR_ACCESS_DENIED;
    case sqlite::kPerm:
    case kAuth: return ERROR_ACCESS_DENIED;
    case sqlite::kCorrupt:
    case kConstraint: return ERROR_REGISTRY_CORRUPT;  // our own rows broke a rule: damaged data
    case sqlite::kNotADb: return ERROR_BADDB;
    case sqlite::kFull: return ERROR_DISK_FULL;
    case sqlite::kCantOpen: return ERROR_CANTOPEN;
    case kTooBig: return ERROR_INVALID_PARAMETER;
    case sqlite::kIoErr:
      if (code == kIoErrLock || code == kIoErrRdLock || code == kIoErrUnlock || code == kIoErrCheckReservedLock) {
        return ERROR_LOCK_FAILED;
      }
      return code == kIoErrNoMem ? ERROR_NOT_ENOUGH_MEMORY : ERROR_REGISTRY_IO_FAILED;
    default: return ERROR_REGISTRY_IO_FAILED;
  }
}

std::shared_ptr<RegistryFile> RegistryFile::acquire(const std::string& path, Kind kind) {
  static FileTable table;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  const std::string key = error ? path : absolute.lexically_normal().string();
  std::lock_guard lock(table.mutex);
  std::weak_ptr<RegistryFile>& slot = table.files[key];
  std::shared_ptr<RegistryFile> file = slot.lock();
  // A connection inherited through fork belongs to the parent: never reuse it.
  if (file != nullptr && file->owner_ == ::getpid()) return file;
  file = std::make_shared<RegistryFile>(key, kind);
  slot = file;
  return file;
}

RegistryFile::RegistryFile(std::string path, Kind kind) : path_(std::move(path)), kind_(kind), owner_(::getpid()) {}

RegistryFile::~RegistryFile() {
  std::lock_guard lock(mutex_);
  closeConnection();
}

void RegistryFile::closeConnection() {
  for (auto& query : queries_) query.finalize();
  connection_.close();
  // Closed only after SQLite's descriptor: closing any descriptor of a file drops
  // the process's POSIX locks on it.
  if (counterFd_ >= 0) ::close(counterFd_);
  counterFd_ = -1;
  layout_ = 0;
  cache_.clear();
}

int64_t RegistryFile::layout() {
  std::lock_guard lock(mutex_);
  return layout_;
}

DWORD RegistryFile::fromSqlite(int code) {
  const int primary = sqlite::primaryCode(code);
  if (primary == sqlite::kCorrupt || primary == sqlite::kNotADb) damaged_ = true;
  return errorFromSqlite(code);
}

DWORD RegistryFile::ensureOpen(bool forWrite) {
  if (damaged_ && state_ != State::Failed) {
    // Met by an earlier call: lasting for this process (see damaged_).
    closeConnection();
    state_ = State::Failed;
    failure_ = ERROR_REGISTRY_CORRUPT;
  }
  switch (state_) {
    case State::Open:
    case State::Empty: return ERROR_SUCCESS;
    case State::Failed: return failure_;
    case State::Unopened: return attemptOpen(true);
    case State::Absent: {
      if (forWrite) return attemptOpen(true);
      struct stat info;
      if (::lstat(path_.c_str(), &info) == 0) return attemptOpen(false);  // made by someone else since
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}

DWORD RegistryFile::attemptOpen(bool mayCreate) {
  auto fail = [this](DWORD error) {
    if (isLasting(error)) {
      state_ = State::Failed;
      failure_ = error;
    }
    return error;
  };
  // lstat: a symbolic link at the store's path is refused, never followed (it
  // could aim a privileged writer at another file).
  struct stat info;
  if (::lstat(path_.c_str(), &info) != 0) {
    const int error = errno;
    if (error == EACCES) return fail(ERROR_ACCESS_DENIED);
    if (error != ENOENT && error != ENOTDIR) return fail(ERROR_CANTOPEN);
    state_ = State::Absent;
    if (!mayCreate || !makeParentFolders(path_, folderMode(kind_))) return ERROR_SUCCESS;
    // Made here rather than by SQLite so that it gets its mode; nothing of ours
    // has the file open yet, so closing this descriptor drops no lock.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, fileMode(kind_));
    if (fd < 0 && errno != EEXIST) return ERROR_SUCCESS;
    if (fd >= 0) {
      // The umask may have narrowed the mode: a machine file must stay readable
      // by every user.
      const bool moded = ::fchmod(fd, fileMode(kind_)) == 0;
      ::close(fd);
      if (!moded) return ERROR_SUCCESS;
    }
  } else if (!S_ISREG(info.st_mode)) {
    return fail(ERROR_CANTOPEN);
  }
  const DWORD error = openConnection();
  if (error != ERROR_SUCCESS) {
    closeConnection();
    return fail(error);
  }
  return ERROR_SUCCESS;
}

DWORD RegistryFile::openConnection() {
  const int rc = connection_.open(path_, false);
  if (rc != sqlite::kOk) {
    if (sqlite::primaryCode(rc) != sqlite::kCantOpen) return fromSqlite(rc);
    if (::access(path_.c_str(), R_OK) != 0 && (errno == EACCES || errno == EPERM)) return ERROR_ACCESS_DENIED;
    return ERROR_CANTOPEN;
  }
  if (const int settings = connection_.exec(schema::kConnectionSettings); settings != sqlite::kOk) {
    return fromSqlite(settings);
  }
  // Writing also needs the folder, for the journal.
  const std::string folder = std::filesystem::path(path_).parent_path().string();
  writable_ = !connection_.readOnly() &&
              ::faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;

  bool fresh = false;
  if (const DWORD error = validateSchema(&fresh); error != ERROR_SUCCESS) return error;
  if (fresh) {
    if (!writable_) {
      state_ = State::Empty;
      connection_.close();
      return ERROR_SUCCESS;
    }
    if (const DWORD error = initialiseSchema(); error != ERROR_SUCCESS) return error;
  }
  if (writable_) connection_.exec("PRAGMA journal_mode=DELETE");  // undoes a switch to WAL by another tool
  counterFd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  cache_.clear();
  state_ = State::Open;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::scalar(const char* sql, int64_t* value) {
  sqlite::Statement statement;
  if (const int rc = connection_.prepare(sql, &statement, false); rc != sqlite::kOk) return fromSqlite(rc);
  const int rc = statement.step();
  if (rc != sqlite::kRow) return rc == sqlite::kDone ? ERROR_BADDB : fromSqlite(rc);
  *value = statement.columnInt64(0);
  return ERROR_SUCCESS;
}

DWORD RegistryFile::readMarks(int64_t* applicationId, int64_t* layout, bool* fresh) {
  int64_t objects = 0;
  DWORD error = scalar("SELECT count(*) FROM sqlite_schema", &objects);
  if (error == ERROR_SUCCESS) error = scalar("PRAGMA application_id", applicationId);
  if (error == ERROR_SUCCESS) error = scalar("PRAGMA user_version", layout);
  *fresh = error == ERROR_SUCCESS && *applicationId == 0 && *layout == 0 && objects == 0;
  return error;
}

// A file shorter than its header says has lost pages (a copy cut short, a full
// disk outside SQLite): checked from the header, in constant time. Read under the
// caller's read lock, so no writer is half-way through.
bool RegistryFile::isTruncated() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  unsigned char header[100];
  struct stat info;
  const bool read =
      ::pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) && ::fstat(fd, &info) == 0;
  ::close(fd);
  if (!read) return false;
  auto bigEndian = [&header](size_t at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) value = (value << 8) | header[at + i];
    return value;
  };
  // The page count at 28 is valid when the change counter at 24 equals the
  // "version valid for" number at 92; a page size of 1 stands for 65536.
  const uint64_t pageSize = bigEndian(16, 2) == 1 ? 65536 : bigEndian(16, 2);
  const uint64_t pages = bigEndian(28, 4);
  if (pages == 0 || bigEndian(24, 4) != bigEndian(92, 4)) return false;
  return static_cast<uint64_t>(info.st_size) < pages * pageSize;
}

// Cheap checks only, so that opening costs the same for any size of file: the
// marks and the length in the header, and that the statements compile against
// the tables. Damage inside the file is reported by the read that meets it
// (ERROR_REGISTRY_CORRUPT); checkIntegrity walks the whole file on request.
DWORD RegistryFile::validateSchema(bool* fresh) {
  // One snapshot: another process may be initialising the file right now.
  const bool ownTransaction = !connection_.inTransaction();
  if (ownTransaction) {
    if (const int rc = connection_.exec("BEGIN"); rc != sqlite::kOk) return fromSqlite(rc);
  }
  int64_t applicationId = 0;
  int64_t layout = 0;
  DWORD error = readMarks(&applicationId, &layout, fresh);
  if (error == ERROR_SUCCESS && !*fresh) {
    const bool ours =
        applicationId == schema::kApplicationId && layout >= schema::kFirstLayout && layout <= schema::kCurrentLayout;
    error = ours ? prepareQueries(layout) : ERROR_BADDB;
    if (error == ERROR_SUCCESS && isTruncated()) error = ERROR_REGISTRY_CORRUPT;
  }
  if (ownTransaction) {
    if (error == ERROR_SUCCESS) {
      const int rc = connection_.exec("COMMIT");
      if (rc != sqlite::kOk) error = fromSqlite(rc);
    }
    connection_.rollback();
  }
  return error;
}

DWORD RegistryFile::prepareQueries(int64_t layout) {
  for (size_t i = 0; i < schema::kQueryCount; ++i) {
    const char* sql = schema::querySql(static_cast<Query>(i), layout);
    if (sql == nullptr) {
      queries_[i].finalize();
      continue;
    }
    const int rc = connection_.prepare(sql, &queries_[i]);
    // A plain SQL error here means tables or columns are missing: not our layout.
    if (rc != sqlite::kOk) return sqlite::primaryCode(rc) == sqlite::kError ? ERROR_BADDB : fromSqlite(rc);
  }
  layout_ = layout;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::initialiseSchema() {
  if (const int rc = connection_.exec("BEGIN IMMEDIATE"); rc != sqlite::kOk) return fromSqlite(rc);
  // Another process may have initialised it while we waited for the lock.
  bool fresh = false;
  DWORD error = validateSchema(&fresh);
  if (error == ERROR_SUCCESS && fresh) {
    const int rc = connection_.exec(schema::kCreate);
    error = (rc == sqlite::kOk) ? ERROR_SUCCESS : fromSqlite(rc);
    if (error == ERROR_SUCCESS) {
      const int commitRc = connection_.exec("COMMIT");
      error = (commitRc == sqlite::kOk) ? prepareQueries(schema::kCurrentLayout) : fromSqlite(commitRc);
    }
  } else if (error == ERROR_SUCCESS) {
    connection_.exec("COMMIT");
  }
  connection_.rollback();
  return error;
}

// Inside a read transaction on a first-layout file: another process may have
// rewritten it since our statements were prepared.
DWORD RegistryFile::followLayoutChange() {
  int64_t layout = 0;
  if (const DWORD error = scalar("PRAGMA user_version", &layout)) return error;
  if (layout == layout_) return ERROR_SUCCESS;
  if (layout != schema::kCurrentLayout) return ERROR_BADDB;
  cache_.clear();
  return prepareQueries(layout);
}

// Rewrites a first-layout file in one write transaction of its own, before the
// first write that this process makes to it. A failure leaves the file as it was.
DWORD RegistryFile::migrateToCurrentLayout() {
  if (const int rc = connection_.exec("BEGIN IMMEDIATE"); rc != sqlite::kOk) {
    return rc == sqlite::kCantOpen ? ERROR_ACCESS_DENIED : fromSqlite(rc);
  }
  int64_t layout = 0;
  DWORD error = scalar("PRAGMA user_version", &layout);
  if (error == ERROR_SUCCESS && layout == schema::kFirstLayout) {
    // Our own statements read the old table: finalised so it can be dropped.
    for (auto& query : queries_) query.finalize();
    const int rc = connection_.exec(schema::kMigrateFromFirstLayout);
    error = rc == sqlite::kOk ? ERROR_SUCCESS : fromSqlite(rc);
    if (error == ERROR_SUCCESS) {
      const int commitRc = connection_.exec("COMMIT");
      if (commitRc != sqlite::kOk) error = commitRc == sqlite::kCantOpen ? ERROR_ACCESS_DENIED : fromSqlite(commitRc);
    }
  } else if (error == ERROR_SUCCESS && layout != schema::kCurrentLayout) {
    error = ERROR_BADDB;
  } else if (error == ERROR_SUCCESS) {
    connection_.exec("COMMIT");  // rewritten by another process meanwhile
  }
  connection_.rollback();
  cache_.clear();
  // Prepared again for whatever the file now holds.
  int64_t now = 0;
  if (const DWORD readError = scalar("PRAGMA user_version", &now); readError != ERROR_SUCCESS) {
    return error != ERROR_SUCCESS ? error : readError;
  }
  const DWORD prepared = prepareQueries(now);
  return error != ERROR_SUCCESS ? error : prepared;
}

DWORD RegistryFile::writableLocked() {
  if (const DWORD error = ensureOpen(true)) return error;
  if (state_ != State::Open || !writable_) return ERROR_ACCESS_DENIED;
  return checkBeforeFirstWrite();
}

DWORD RegistryFile::checkWritable() {
  std::lock_guard lock(mutex_);
  return writableLocked();
}

}  // namespace utils::linuxport
