#include "port/linux/registry_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>

namespace utils::linuxport {
namespace {

// Marks a SQLite file as ours (PRAGMA application_id) and dates its layout
// (PRAGMA user_version). A file with other marks is someone else's: never touched.
constexpr int64_t kApplicationId = 0x55524547;  // "UREG"
constexpr int64_t kSchemaVersion = 1;

// Journal mode: DELETE, the rollback journal, not WAL. A WAL reader must write the
// shared-memory index (-shm) or find -wal and -shm already there, so an
// unprivileged user could not read a root-owned machine file in a root-owned
// folder; a rollback-journal reader needs read permission only (its lock is a
// read lock on a read-only descriptor). Of the rollback modes, DELETE leaves no
// journal behind when idle, so a reader's check for a hot journal is one failed
// access(), where TRUNCATE and PERSIST make every reader open and read a leftover
// journal. synchronous=EXTRA is FULL plus an fsync of the folder after the
// journal is unlinked: that unlink is the commit point in DELETE mode, and
// without the folder sync a power cut could bring the journal back and undo a
// write that was reported done. Writers wait for each other and for readers
// (see Connection's busy handler); registry writes are rare and short.
constexpr char kConnectionSettings[] =
    "PRAGMA synchronous=EXTRA;"
    "PRAGMA cell_size_check=ON;";

// Keys: the root is row 1 with path ''. path is the folded path from the root,
// unique and never changed; name is the last component as first spelled.
// Enumeration follows the folded names (byte order of UTF-8 = code point order).
constexpr char kSchema[] =
    "CREATE TABLE registry_keys("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  parent INTEGER NOT NULL,"
    "  path TEXT NOT NULL UNIQUE,"
    "  name TEXT NOT NULL);"
    "CREATE INDEX registry_keys_by_parent ON registry_keys(parent, path);"
    "CREATE TABLE registry_values("
    "  key INTEGER NOT NULL,"
    "  folded TEXT NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(1, 0, '', '');"
    "PRAGMA application_id=1431455047;"
    "PRAGMA user_version=1;";
static_assert(kApplicationId == 1431455047 && kSchemaVersion == 1, "keep kSchema in step");

// Indexed by RegistryFile::Query.
constexpr const char* kQueries[] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT id FROM registry_keys WHERE path=?1",
    "SELECT 1 FROM registry_keys WHERE id=?1",
    "INSERT INTO registry_keys(parent, path, name) VALUES(?1, ?2, ?3)",
    "SELECT type, data FROM registry_values WHERE key=?1 AND folded=?2",
    "INSERT INTO registry_values(key, folded, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
    " ON CONFLICT(key, folded) DO UPDATE SET type=excluded.type, data=excluded.data",
    "DELETE FROM registry_values WHERE key=?1 AND folded=?2",
    "SELECT name, type, data FROM registry_values WHERE key=?1 ORDER BY folded LIMIT 1 OFFSET ?2",
    "SELECT name FROM registry_keys WHERE parent=?1 ORDER BY path LIMIT 1 OFFSET ?2",
    "SELECT count(*) FROM registry_keys WHERE parent=?1",
    "SELECT count(*) FROM registry_values WHERE key=?1",
    "DELETE FROM registry_values WHERE key IN (SELECT id FROM registry_keys WHERE path > ?1 AND path < ?2)",
    "DELETE FROM registry_keys WHERE path > ?1 AND path < ?2",
    "DELETE FROM registry_values WHERE key=?1",
    "DELETE FROM registry_keys WHERE id=?1",
};

// Bounds the read cache; it is emptied when full.
constexpr size_t kCacheLimitBytes = size_t{1} << 20;

// The SQLite database header: format versions (1 = rollback journal) at 18 and 19,
// the file change counter, big-endian, at 24. In rollback-journal mode every
// commit increments the counter.
constexpr size_t kHeaderPrefix = 28;

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
    case sqlite::kCorrupt: return ERROR_REGISTRY_CORRUPT;
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

void RegistryFile::ReadCache::clear() {
  valid = false;
  bytes = 0;
  keyByPath.clear();
  keyLive.clear();
  values.clear();
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
  cache_.clear();
}

// ---- Opening and validation ----

DWORD RegistryFile::ensureOpen(bool forWrite) {
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
    if (sqlite::primaryCode(rc) != sqlite::kCantOpen) return errorFromSqlite(rc);
    if (::access(path_.c_str(), R_OK) != 0 && (errno == EACCES || errno == EPERM)) return ERROR_ACCESS_DENIED;
    return ERROR_CANTOPEN;
  }
  if (const int settings = connection_.exec(kConnectionSettings); settings != sqlite::kOk) {
    return errorFromSqlite(settings);
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
  if (const int rc = connection_.prepare(sql, &statement, false); rc != sqlite::kOk) return errorFromSqlite(rc);
  const int rc = statement.step();
  if (rc != sqlite::kRow) return rc == sqlite::kDone ? ERROR_BADDB : errorFromSqlite(rc);
  *value = statement.columnInt64(0);
  return ERROR_SUCCESS;
}

DWORD RegistryFile::validateSchema(bool* fresh) {
  // One snapshot: another process may be initialising the file right now.
  const bool ownTransaction = !connection_.inTransaction();
  if (ownTransaction) {
    if (const int rc = connection_.exec("BEGIN"); rc != sqlite::kOk) return errorFromSqlite(rc);
  }
  int64_t applicationId = 0;
  int64_t version = 0;
  int64_t objects = 0;
  DWORD error = scalar("SELECT count(*) FROM sqlite_schema", &objects);
  if (error == ERROR_SUCCESS) error = scalar("PRAGMA application_id", &applicationId);
  if (error == ERROR_SUCCESS) error = scalar("PRAGMA user_version", &version);
  if (ownTransaction) {
    if (error == ERROR_SUCCESS) {
      const int rc = connection_.exec("COMMIT");
      if (rc != sqlite::kOk) error = errorFromSqlite(rc);
    }
    connection_.rollback();
  }
  if (error != ERROR_SUCCESS) return error;
  *fresh = applicationId == 0 && version == 0 && objects == 0;
  if (*fresh) return ERROR_SUCCESS;
  if (applicationId != kApplicationId || version < 1 || version > kSchemaVersion) return ERROR_BADDB;

  sqlite::Statement check;
  if (const int rc = connection_.prepare("PRAGMA quick_check(1)", &check, false)) return errorFromSqlite(rc);
  const int rc = check.step();
  if (rc != sqlite::kRow) return errorFromSqlite(rc == sqlite::kDone ? sqlite::kCorrupt : rc);
  if (check.columnText(0) != "ok") return ERROR_REGISTRY_CORRUPT;
  check.finalize();
  return prepareQueries();
}

DWORD RegistryFile::prepareQueries() {
  for (size_t i = 0; i < kQueryCount; ++i) {
    const int rc = connection_.prepare(kQueries[i], &queries_[i]);
    // A plain SQL error here means tables or columns are missing: not our layout.
    if (rc != sqlite::kOk) return sqlite::primaryCode(rc) == sqlite::kError ? ERROR_BADDB : errorFromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

DWORD RegistryFile::initialiseSchema() {
  if (const int rc = connection_.exec("BEGIN IMMEDIATE"); rc != sqlite::kOk) return errorFromSqlite(rc);
  // Another process may have initialised it while we waited for the lock.
  bool fresh = false;
  DWORD error = validateSchema(&fresh);
  if (error == ERROR_SUCCESS && fresh) {
    const int rc = connection_.exec(kSchema);
    error = (rc == sqlite::kOk) ? ERROR_SUCCESS : errorFromSqlite(rc);
    if (error == ERROR_SUCCESS) {
      const int commitRc = connection_.exec("COMMIT");
      error = (commitRc == sqlite::kOk) ? prepareQueries() : errorFromSqlite(commitRc);
    }
  } else if (error == ERROR_SUCCESS) {
    connection_.exec("COMMIT");
  }
  connection_.rollback();
  return error;
}

DWORD RegistryFile::writableLocked() {
  if (const DWORD error = ensureOpen(true)) return error;
  return (state_ == State::Open && writable_) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

DWORD RegistryFile::checkWritable() {
  std::lock_guard lock(mutex_);
  return writableLocked();
}

// ---- Statements and transactions ----

DWORD RegistryFile::run(Query query) {
  sqlite::StatementRun statement(queries_[query]);
  const int rc = statement->step();
  return (rc == sqlite::kDone || rc == sqlite::kRow) ? ERROR_SUCCESS : errorFromSqlite(rc);
}

DWORD RegistryFile::beginRead() { return run(kBegin); }

DWORD RegistryFile::beginWrite() {
  const DWORD error = run(kBeginImmediate);
  if (error == ERROR_CANTOPEN || error == ERROR_ACCESS_DENIED) return ERROR_ACCESS_DENIED;
  return error;
}

DWORD RegistryFile::commit() {
  DWORD error = run(kCommit);
  // The journal could not be made: the folder is not writable for us.
  if (error == ERROR_CANTOPEN) error = ERROR_ACCESS_DENIED;
  if (error != ERROR_SUCCESS) rollback();
  return error;
}

void RegistryFile::rollback() { connection_.rollback(); }

DWORD RegistryFile::keyLive(int64_t id, bool* live) {
  if (id == kRootKeyId) {
    *live = true;
    return ERROR_SUCCESS;
  }
  sqlite::StatementRun statement(queries_[kKeyExists]);
  statement->bindInt64(1, id);
  const int rc = statement->step();
  if (rc != sqlite::kRow && rc != sqlite::kDone) return errorFromSqlite(rc);
  *live = rc == sqlite::kRow;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::keyByPath(const std::string& path, int64_t* id) {
  sqlite::StatementRun statement(queries_[kKeyByPath]);
  statement->bindText(1, path);
  const int rc = statement->step();
  if (rc != sqlite::kRow && rc != sqlite::kDone) return errorFromSqlite(rc);
  *id = (rc == sqlite::kRow) ? statement->columnInt64(0) : 0;
  return ERROR_SUCCESS;
}

// ---- Read cache ----
//
// Reads that a warm process repeats (open a key, query a value) are answered from
// memory while the file's change counter has not moved. Checking the counter is
// one pread; every commit by any process moves it. Entries are filled only inside
// a read transaction (under SQLite's shared lock) together with the counter read
// under that lock, so an entry always belongs to the file state its counter names.
// A hot journal left by a crashed writer restores the old pages and counter, so
// the old entries are right again. Files in WAL mode (counter not maintained) are
// never cached.

bool RegistryFile::readCounter(uint32_t* counter) const {
  if (counterFd_ < 0) return false;
  unsigned char header[kHeaderPrefix];
  if (::pread(counterFd_, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) return false;
  if (header[18] != 1 || header[19] != 1) return false;
  *counter = (uint32_t{header[24]} << 24) | (uint32_t{header[25]} << 16) | (uint32_t{header[26]} << 8) | header[27];
  return true;
}

void RegistryFile::refreshCache() {
  if (!cache_.valid) return;
  uint32_t counter = 0;
  if (!readCounter(&counter) || counter != cache_.counter) cache_.clear();
}

void RegistryFile::noteRead(bool haveCounter, uint32_t counter) {
  if (!haveCounter) {
    cache_.clear();
    return;
  }
  if (!cache_.valid || cache_.counter != counter) {
    cache_.clear();
    cache_.valid = true;
    cache_.counter = counter;
  }
}

void RegistryFile::makeRoom(size_t bytes) {
  if (cache_.bytes + bytes <= kCacheLimitBytes) {
    cache_.bytes += bytes;
    return;
  }
  const uint32_t counter = cache_.counter;
  const bool valid = cache_.valid;
  cache_.clear();
  cache_.valid = valid;
  cache_.counter = counter;
  cache_.bytes = bytes;
}

std::string RegistryFile::valueCacheKey(int64_t key, const std::string& folded) {
  std::string cacheKey(sizeof key, '\0');
  std::memcpy(cacheKey.data(), &key, sizeof key);
  cacheKey += folded;
  return cacheKey;
}

// ---- Keys ----

DWORD RegistryFile::lookupKey(const KeyRef& base, const std::string& relative, bool* baseLive, int64_t* id) {
  if (!hasData()) {
    *baseLive = base.id == kRootKeyId;
    *id = (*baseLive && relative.empty()) ? kRootKeyId : 0;
    return ERROR_SUCCESS;
  }
  refreshCache();
  const std::string path = joinFoldedPath(base.path, relative);
  bool live = true;
  bool haveLive = base.id == kRootKeyId;
  if (!haveLive) {
    if (auto it = cache_.keyLive.find(base.id); it != cache_.keyLive.end()) {
      live = it->second;
      haveLive = true;
    }
  }
  int64_t target = base.id;
  bool haveTarget = relative.empty();
  if (!haveTarget) {
    if (auto it = cache_.keyByPath.find(path); it != cache_.keyByPath.end()) {
      target = it->second;
      haveTarget = true;
    }
  }
  if (!haveLive || !haveTarget) {
    if (const DWORD error = beginRead()) return error;
    DWORD error = haveLive ? ERROR_SUCCESS : keyLive(base.id, &live);
    if (error == ERROR_SUCCESS && !haveTarget) error = keyByPath(path, &target);
    uint32_t counter = 0;
    const bool haveCounter = readCounter(&counter);
    if (error == ERROR_SUCCESS) error = commit();
    rollback();
    if (error != ERROR_SUCCESS) return error;
    noteRead(haveCounter, counter);
    if (cache_.valid) {
      makeRoom(path.size() + 64);
      if (!haveLive) cache_.keyLive[base.id] = live;
      if (!haveTarget) cache_.keyByPath[path] = target;
    }
  }
  *baseLive = live;
  *id = target;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::openKey(const KeyRef& base, const KeyPath& relative, int64_t* id) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  bool live = false;
  if (const DWORD error = lookupKey(base, relative.folded, &live, id)) return error;
  if (!live) return ERROR_KEY_DELETED;
  return *id == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

DWORD RegistryFile::createKey(const KeyRef& base, const KeyPath& relative, bool wantWrite, int64_t* id, bool* created) {
  std::lock_guard lock(mutex_);
  *created = false;
  if (const DWORD error = ensureOpen(false)) return error;
  bool live = false;
  int64_t existing = 0;
  if (const DWORD error = lookupKey(base, relative.folded, &live, &existing)) return error;
  if (!live) return ERROR_KEY_DELETED;
  if (existing != 0) {
    if (wantWrite) {
      if (const DWORD error = writableLocked()) return error;
    }
    *id = existing;
    return ERROR_SUCCESS;
  }
  if (const DWORD error = writableLocked()) return error;

  if (const DWORD error = beginWrite()) return error;
  DWORD error = keyLive(base.id, &live);
  if (error == ERROR_SUCCESS && !live) error = ERROR_KEY_DELETED;
  int64_t parent = base.id;
  std::string path = base.path;
  bool madeAny = false;
  for (size_t i = 0; error == ERROR_SUCCESS && i < relative.names.size(); ++i) {
    path = joinFoldedPath(path, relative.foldedNames[i]);
    int64_t child = 0;
    error = keyByPath(path, &child);
    if (error == ERROR_SUCCESS && child == 0) {
      sqlite::StatementRun insert(queries_[kInsertKey]);
      insert->bindInt64(1, parent);
      insert->bindText(2, path);
      insert->bindText(3, relative.names[i]);
      const int rc = insert->step();
      error = (rc == sqlite::kDone) ? ERROR_SUCCESS : errorFromSqlite(rc);
      child = connection_.lastInsertRowid();
      madeAny = true;
    }
    parent = child;
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  cache_.clear();
  if (error != ERROR_SUCCESS) return error;
  *id = parent;
  *created = madeAny;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::deleteTree(const KeyRef& base, const KeyPath& relative) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  bool live = false;
  int64_t target = 0;
  if (const DWORD error = lookupKey(base, relative.folded, &live, &target)) return error;
  if (!live) return ERROR_KEY_DELETED;
  if (target == 0) return ERROR_FILE_NOT_FOUND;
  if (const DWORD error = writableLocked()) return error;

  if (const DWORD error = beginWrite()) return error;
  // Looked up again under the write lock: another process may have changed it.
  const std::string path = joinFoldedPath(base.path, relative.folded);
  DWORD error = keyLive(base.id, &live);
  if (error == ERROR_SUCCESS && !live) error = ERROR_KEY_DELETED;
  if (error == ERROR_SUCCESS && !relative.empty()) {
    error = keyByPath(path, &target);
    if (error == ERROR_SUCCESS && target == 0) error = ERROR_FILE_NOT_FOUND;
  }
  // Descendants have paths strictly between "path\" and "path]" (']' follows '\');
  // below the root, every non-empty path (no UTF-8 byte is 0xF5 or above).
  const std::string low = path.empty() ? std::string() : path + "\\";
  const std::string high = path.empty() ? std::string("\xF5") : path + "]";
  for (Query query : {kDeleteValuesInRange, kDeleteKeysInRange}) {
    if (error != ERROR_SUCCESS) break;
    sqlite::StatementRun statement(queries_[query]);
    statement->bindText(1, low);
    statement->bindText(2, high);
    const int rc = statement->step();
    if (rc != sqlite::kDone) error = errorFromSqlite(rc);
  }
  std::vector<Query> ownRows{kDeleteValuesOf};
  if (!relative.empty()) ownRows.push_back(kDeleteKey);
  for (Query query : ownRows) {
    if (error != ERROR_SUCCESS) break;
    sqlite::StatementRun statement(queries_[query]);
    statement->bindInt64(1, target);
    const int rc = statement->step();
    if (rc != sqlite::kDone) error = errorFromSqlite(rc);
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  cache_.clear();
  return error;
}

// ---- Values ----

DWORD RegistryFile::refusedWrite(int64_t key, DWORD error) {
  if (key == kRootKeyId) return error;
  bool live = false;
  if (hasData() && keyLive(key, &live) != ERROR_SUCCESS) live = true;  // keep the first error
  return live ? error : ERROR_KEY_DELETED;
}

DWORD RegistryFile::queryValue(int64_t key, const std::string& folded, DWORD* type, BYTE* data, DWORD* size) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) return key == kRootKeyId ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;

  refreshCache();
  std::string cacheKey = valueCacheKey(key, folded);
  const CachedValue* value = nullptr;
  CachedValue fetched;
  if (auto it = cache_.values.find(cacheKey); it != cache_.values.end()) {
    value = &it->second;
  } else {
    if (const DWORD error = beginRead()) return error;
    DWORD error = ERROR_SUCCESS;
    bool live = true;
    {
      sqlite::StatementRun statement(queries_[kValue]);
      statement->bindInt64(1, key);
      statement->bindText(2, folded);
      const int rc = statement->step();
      if (rc == sqlite::kRow) {
        fetched.present = true;
        fetched.type = static_cast<DWORD>(statement->columnInt64(0));
        size_t bytes = 0;
        const unsigned char* blob = statement->columnBlob(1, &bytes);
        if (bytes > 0) fetched.data.assign(blob, blob + bytes);
      } else if (rc != sqlite::kDone) {
        error = errorFromSqlite(rc);
      }
    }
    if (error == ERROR_SUCCESS && !fetched.present) error = keyLive(key, &live);
    uint32_t counter = 0;
    const bool haveCounter = readCounter(&counter);
    if (error == ERROR_SUCCESS) error = commit();
    rollback();
    if (error != ERROR_SUCCESS) return error;
    if (!live) return ERROR_KEY_DELETED;  // not cached: the handle stays deleted anyway
    noteRead(haveCounter, counter);
    if (cache_.valid) {
      makeRoom(cacheKey.size() + fetched.data.size() + 64);
      value = &(cache_.values[std::move(cacheKey)] = std::move(fetched));
    } else {
      value = &fetched;
    }
  }
  if (!value->present) return ERROR_FILE_NOT_FOUND;
  if (type != nullptr) *type = value->type;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD capacity = *size;
  const auto needed = static_cast<DWORD>(value->data.size());
  *size = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < needed) return ERROR_MORE_DATA;
  if (needed > 0) std::memcpy(data, value->data.data(), needed);
  return ERROR_SUCCESS;
}

DWORD RegistryFile::setValue(int64_t key, const std::string& folded, const std::string& name, DWORD type,
                             const BYTE* data, DWORD size) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(key, error);
  if (const DWORD error = beginWrite()) return error;
  bool live = false;
  DWORD error = keyLive(key, &live);
  if (error == ERROR_SUCCESS && !live) error = ERROR_KEY_DELETED;
  if (error == ERROR_SUCCESS) {
    sqlite::StatementRun statement(queries_[kUpsertValue]);
    statement->bindInt64(1, key);
    statement->bindText(2, folded);
    statement->bindText(3, name);
    statement->bindInt64(4, type);
    int rc = statement->bindBlob(5, data, size);
    if (rc == sqlite::kOk) rc = statement->step();
    if (rc != sqlite::kDone) error = errorFromSqlite(rc);
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  cache_.clear();
  return error;
}

DWORD RegistryFile::deleteValue(int64_t key, const std::string& folded) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(key, error);
  if (const DWORD error = beginWrite()) return error;
  bool live = false;
  DWORD error = keyLive(key, &live);
  if (error == ERROR_SUCCESS && !live) error = ERROR_KEY_DELETED;
  if (error == ERROR_SUCCESS) {
    sqlite::StatementRun statement(queries_[kDeleteValue]);
    statement->bindInt64(1, key);
    statement->bindText(2, folded);
    const int rc = statement->step();
    if (rc != sqlite::kDone)
      error = errorFromSqlite(rc);
    else if (connection_.changes() == 0)
      error = ERROR_FILE_NOT_FOUND;
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  cache_.clear();
  return error;
}

DWORD RegistryFile::takeValue(int64_t key, const std::string& folded, const BYTE* expected, DWORD size) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(key, error);
  // BEGIN IMMEDIATE takes the write lock before the read, so no other process can
  // read the same value as present and take it too.
  if (const DWORD error = beginWrite()) return error;
  bool live = false;
  DWORD error = keyLive(key, &live);
  if (error == ERROR_SUCCESS && !live) error = ERROR_KEY_DELETED;
  if (error == ERROR_SUCCESS) {
    sqlite::StatementRun statement(queries_[kValue]);
    statement->bindInt64(1, key);
    statement->bindText(2, folded);
    const int rc = statement->step();
    if (rc == sqlite::kRow) {
      size_t bytes = 0;
      const unsigned char* blob = statement->columnBlob(1, &bytes);
      if (bytes != size || (size > 0 && std::memcmp(blob, expected, size) != 0)) error = ERROR_INVALID_DATA;
    } else {
      error = (rc == sqlite::kDone) ? ERROR_FILE_NOT_FOUND : errorFromSqlite(rc);
    }
  }
  if (error == ERROR_SUCCESS) {
    sqlite::StatementRun statement(queries_[kDeleteValue]);
    statement->bindInt64(1, key);
    statement->bindText(2, folded);
    const int rc = statement->step();
    if (rc != sqlite::kDone) error = errorFromSqlite(rc);
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  cache_.clear();
  return error;
}

// ---- Enumeration ----

DWORD RegistryFile::valueAt(int64_t key, DWORD index, ValueEntry* out) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) return key == kRootKeyId ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  if (const DWORD error = beginRead()) return error;
  DWORD error = ERROR_SUCCESS;
  bool found = false;
  {
    sqlite::StatementRun statement(queries_[kValueAt]);
    statement->bindInt64(1, key);
    statement->bindInt64(2, index);
    const int rc = statement->step();
    if (rc == sqlite::kRow) {
      found = true;
      out->name = std::string(statement->columnText(0));
      out->type = static_cast<DWORD>(statement->columnInt64(1));
      size_t bytes = 0;
      const unsigned char* blob = statement->columnBlob(2, &bytes);
      out->data.assign(blob, blob + bytes);
    } else if (rc != sqlite::kDone) {
      error = errorFromSqlite(rc);
    }
  }
  bool live = true;
  if (error == ERROR_SUCCESS && !found) error = keyLive(key, &live);
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  if (error != ERROR_SUCCESS) return error;
  if (!live) return ERROR_KEY_DELETED;
  return found ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

DWORD RegistryFile::subKeyAt(int64_t key, DWORD index, std::string* name) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) return key == kRootKeyId ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  if (const DWORD error = beginRead()) return error;
  DWORD error = ERROR_SUCCESS;
  bool found = false;
  {
    sqlite::StatementRun statement(queries_[kSubKeyAt]);
    statement->bindInt64(1, key);
    statement->bindInt64(2, index);
    const int rc = statement->step();
    if (rc == sqlite::kRow) {
      found = true;
      *name = std::string(statement->columnText(0));
    } else if (rc != sqlite::kDone) {
      error = errorFromSqlite(rc);
    }
  }
  bool live = true;
  if (error == ERROR_SUCCESS && !found) error = keyLive(key, &live);
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  if (error != ERROR_SUCCESS) return error;
  if (!live) return ERROR_KEY_DELETED;
  return found ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

DWORD RegistryFile::counts(int64_t key, DWORD* subKeys, DWORD* values) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) {
    if (key != kRootKeyId) return ERROR_KEY_DELETED;
    if (subKeys != nullptr) *subKeys = 0;
    if (values != nullptr) *values = 0;
    return ERROR_SUCCESS;
  }
  if (const DWORD error = beginRead()) return error;
  bool live = false;
  DWORD error = keyLive(key, &live);
  int64_t found[2] = {0, 0};
  const Query queries[2] = {kCountSubKeys, kCountValues};
  for (size_t i = 0; error == ERROR_SUCCESS && live && i < 2; ++i) {
    sqlite::StatementRun statement(queries_[queries[i]]);
    statement->bindInt64(1, key);
    const int rc = statement->step();
    if (rc == sqlite::kRow)
      found[i] = statement->columnInt64(0);
    else
      error = errorFromSqlite(rc);
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  if (error != ERROR_SUCCESS) return error;
  if (!live) return ERROR_KEY_DELETED;
  if (subKeys != nullptr) *subKeys = static_cast<DWORD>(found[0]);
  if (values != nullptr) *values = static_cast<DWORD>(found[1]);
  return ERROR_SUCCESS;
}

DWORD RegistryFile::checkIntegrity(std::string* report) {
  std::lock_guard lock(mutex_);
  report->clear();
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) {
    *report = "ok";
    return ERROR_SUCCESS;
  }
  sqlite::Statement check;
  if (const int rc = connection_.prepare("PRAGMA integrity_check", &check, false)) return errorFromSqlite(rc);
  int rc;
  while ((rc = check.step()) == sqlite::kRow) {
    if (!report->empty()) report->push_back('\n');
    report->append(check.columnText(0));
  }
  if (rc != sqlite::kDone) return errorFromSqlite(rc);
  return *report == "ok" ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT;
}

}  // namespace utils::linuxport
