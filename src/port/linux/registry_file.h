// One registry hive in one SQLite file: the keys and values below one predefined
// root. A process has at most one RegistryFile per file (acquire), shared by every
// store that names the file, so it keeps one connection, one set of prepared
// statements and one read cache per file.
//
// All methods are safe to call from several threads (one mutex per file) and
// return Win32 error codes. Keys are identified by row id; a key that was deleted
// keeps its id unused for ever (AUTOINCREMENT), so a handle to it stays deleted
// even when a key of the same path is created again.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "port/linux/registry_names.h"
#include "port/linux/registry_sqlite.h"
#include "utils/wintypes.h"

namespace utils::linuxport {

// The row id of the root key in every store file.
inline constexpr int64_t kRootKeyId = 1;

// A key as a handle refers to it: row id, folded path ("" for the root) and
// depth below the root.
struct KeyRef {
  int64_t id = kRootKeyId;
  std::string path;
  size_t depth = 0;
};

// One value as enumeration returns it.
struct ValueEntry {
  std::string name;  // UTF-8, as first spelled
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

class RegistryFile {
 public:
  // File and folder permissions: the machine-wide hive is world-readable, a
  // user's hive is private.
  enum class Kind { Machine, User };

  // The process's instance for path, opened lazily on first use.
  static std::shared_ptr<RegistryFile> acquire(const std::string& path, Kind kind);

  RegistryFile(std::string path, Kind kind);
  ~RegistryFile();
  RegistryFile(const RegistryFile&) = delete;
  RegistryFile& operator=(const RegistryFile&) = delete;

  const std::string& path() const { return path_; }

  // ERROR_SUCCESS when writes can succeed, creating the file if it is missing;
  // ERROR_ACCESS_DENIED when this process may not write it; or the file's error.
  DWORD checkWritable();

  // Finds relative below base: ERROR_KEY_DELETED when base is gone,
  // ERROR_FILE_NOT_FOUND when the key does not exist.
  DWORD openKey(const KeyRef& base, const KeyPath& relative, int64_t* id);
  // As openKey, creating missing keys (in one transaction). Needs write access
  // only when something is created or wantWrite is set.
  DWORD createKey(const KeyRef& base, const KeyPath& relative, bool wantWrite, int64_t* id, bool* created);

  // RegQueryValueExW on a key id (see RegistryPort::queryValue).
  DWORD queryValue(int64_t key, const std::string& folded, DWORD* type, BYTE* data, DWORD* size);
  DWORD setValue(int64_t key, const std::string& folded, const std::string& name, DWORD type, const BYTE* data,
                 DWORD size);
  DWORD deleteValue(int64_t key, const std::string& folded);
  // Deletes the value when its data equal expected, in one write transaction
  // (see RegistryPort::takeValue).
  DWORD takeValue(int64_t key, const std::string& folded, const BYTE* expected, DWORD size);
  // Removes relative below base with everything under it; with relative empty,
  // everything below base and base's values.
  DWORD deleteTree(const KeyRef& base, const KeyPath& relative);

  // The index-th value / direct subkey in folded-name order; ERROR_NO_MORE_ITEMS
  // past the end.
  DWORD valueAt(int64_t key, DWORD index, ValueEntry* out);
  DWORD subKeyAt(int64_t key, DWORD index, std::string* name);
  DWORD counts(int64_t key, DWORD* subKeys, DWORD* values);

  // SQLite's full integrity check: ERROR_SUCCESS when it reports "ok", else
  // ERROR_REGISTRY_CORRUPT with its findings in report.
  DWORD checkIntegrity(std::string* report);

 private:
  enum class State {
    Unopened,  // not tried yet
    Open,      // a valid store, read-write or read-only
    Absent,    // no file and none could be made: an empty registry, rechecked on use
    Empty,     // an empty file this process cannot initialise: an empty registry
    Failed,    // not usable: failure_ says why
  };
  enum Query : size_t {
    kBegin,
    kBeginImmediate,
    kCommit,
    kRollback,
    kKeyByPath,
    kKeyExists,
    kInsertKey,
    kValue,
    kUpsertValue,
    kDeleteValue,
    kValueAt,
    kSubKeyAt,
    kCountSubKeys,
    kCountValues,
    kDeleteValuesInRange,
    kDeleteKeysInRange,
    kDeleteValuesOf,
    kDeleteKey,
    kQueryCount,
  };
  struct CachedValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  // Lookups read since the file's change counter last moved (see refreshCache).
  struct ReadCache {
    bool valid = false;
    uint32_t counter = 0;
    size_t bytes = 0;
    std::unordered_map<std::string, int64_t> keyByPath;  // 0: no such key
    std::unordered_map<int64_t, bool> keyLive;
    std::unordered_map<std::string, CachedValue> values;  // by valueCacheKey
    void clear();
  };

  // REQUIRES: mutex_ held, for everything below.
  DWORD ensureOpen(bool forWrite);
  DWORD attemptOpen(bool mayCreate);
  DWORD openConnection();
  DWORD validateSchema(bool* fresh);
  DWORD initialiseSchema();
  DWORD prepareQueries();
  void closeConnection();
  bool hasData() const { return state_ == State::Open; }
  DWORD writableLocked();
  // The error for a write refused with error: a handle to a deleted key hears that.
  DWORD refusedWrite(int64_t key, DWORD error);

  DWORD run(Query query);  // steps a statement that returns no row
  DWORD scalar(const char* sql, int64_t* value);
  DWORD beginRead();
  DWORD beginWrite();
  DWORD commit();
  void rollback();
  DWORD keyLive(int64_t id, bool* live);
  DWORD keyByPath(const std::string& path, int64_t* id);
  DWORD lookupKey(const KeyRef& base, const std::string& path, bool* baseLive, int64_t* id);

  bool readCounter(uint32_t* counter) const;
  void refreshCache();
  void noteRead(bool haveCounter, uint32_t counter);
  void makeRoom(size_t bytes);
  static std::string valueCacheKey(int64_t key, const std::string& folded);

  const std::string path_;
  const Kind kind_;
  const pid_t owner_;  // the process that opened it; a forked child gets its own

  std::mutex mutex_;
  State state_ = State::Unopened;           // GUARDED_BY(mutex_)
  DWORD failure_ = ERROR_SUCCESS;           // GUARDED_BY(mutex_)
  bool writable_ = false;                   // GUARDED_BY(mutex_)
  sqlite::Connection connection_;           // GUARDED_BY(mutex_)
  sqlite::Statement queries_[kQueryCount];  // GUARDED_BY(mutex_)
  int counterFd_ = -1;                      // GUARDED_BY(mutex_): read-only, for the change counter
  ReadCache cache_;                         // GUARDED_BY(mutex_)
};

// The Win32 error for a SQLite result code.
DWORD errorFromSqlite(int code);

}  // namespace utils::linuxport
