// One registry hive in one SQLite file: the keys and values below one predefined
// root. A process has at most one RegistryFile per file (acquire), shared by every
// store that names the file, so it keeps one connection, one set of prepared
// statements and one read cache per file.
//
// All methods are safe to call from several threads (one mutex per file) and
// return Win32 error codes. Keys are identified by row id; a key that was deleted
// keeps its id unused for ever (AUTOINCREMENT), so a handle to it stays deleted
// even when a key of the same path is created again.
//
// The methods live in several files by job: opening and the layout
// (registry_file_open.cpp), reading and the read cache (registry_file_read.cpp),
// writing (registry_file_write.cpp), enumeration (registry_file_enum.cpp) and the
// whole-file check (registry_file_integrity.cpp).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "port/linux/registry_names.h"
#include "port/linux/registry_schema.h"
#include "port/linux/registry_sqlite.h"
#include "port/registry_port.h"
#include "utils/wintypes.h"

namespace utils::linuxport {

// The row id of the root key in every store file.
inline constexpr int64_t kRootKeyId = 1;

// A key as a handle refers to it: row id and depth below the root.
struct KeyRef {
  int64_t id = kRootKeyId;
  size_t depth = 0;
};

// One value as enumeration returns it.
struct ValueEntry {
  std::string name;  // UTF-8, as first spelled
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// One change of a batch (RegistryPort::applyChanges) in the store's terms.
struct FileChange {
  port::RegistryChange::Kind kind = port::RegistryChange::Kind::CreateKey;
  KeyPath key;         // below the batch's base key
  std::string folded;  // value name, folded
  std::string name;    // value name as spelled
  DWORD type = REG_NONE;
  const BYTE* data = nullptr;
  DWORD size = 0;
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
  // Applies the changes below base in one write transaction, durable once: all
  // or none. On failure *failed is the index of the change that failed (or
  // changes.size() when the commit itself failed).
  DWORD applyChanges(const KeyRef& base, const std::vector<FileChange>& changes, size_t* failed);

  // The index-th value / direct subkey in folded-name order; ERROR_NO_MORE_ITEMS
  // past the end.
  DWORD valueAt(int64_t key, DWORD index, ValueEntry* out);
  DWORD subKeyAt(int64_t key, DWORD index, std::string* name);
  DWORD counts(int64_t key, DWORD* subKeys, DWORD* values);

  // SQLite's full integrity check: ERROR_SUCCESS when it reports "ok", else
  // ERROR_REGISTRY_CORRUPT with its findings in report (and the file is then
  // treated as damaged, see damaged_).
  DWORD checkIntegrity(std::string* report);

  // The file's layout version (0 before it is opened); for tests.
  int64_t layout();

 private:
  using Query = schema::Query;
  enum class State {
    Unopened,  // not tried yet
    Open,      // a valid store, read-write or read-only
    Absent,    // no file and none could be made: an empty registry, rechecked on use
    Empty,     // an empty file this process cannot initialise: an empty registry
    Failed,    // not usable: failure_ says why
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
    std::unordered_map<std::string, int64_t> keyByPath;  // by cacheKey(base, relative); 0: none
    std::unordered_map<int64_t, bool> keyLive;
    std::unordered_map<std::string, CachedValue> values;  // by cacheKey(key, folded name)
    void clear();
  };

  // REQUIRES: mutex_ held, for everything below.

  // Opening and the layout (registry_file_open.cpp).
  DWORD ensureOpen(bool forWrite);
  DWORD attemptOpen(bool mayCreate);
  DWORD openConnection();
  DWORD readMarks(int64_t* applicationId, int64_t* layout, bool* fresh);
  DWORD validateSchema(bool* fresh);
  bool isTruncated() const;
  DWORD initialiseSchema();
  DWORD prepareQueries(int64_t layout);
  DWORD followLayoutChange();
  DWORD migrateToCurrentLayout();
  void closeConnection();
  bool hasData() const { return state_ == State::Open; }
  DWORD writableLocked();
  // The Win32 error for a SQLite result met on this file; notes damage.
  DWORD fromSqlite(int code);

  // Damage checks (registry_file_integrity.cpp).
  DWORD runCheck(const char* pragma, std::string* report);
  DWORD checkBeforeFirstWrite();

  // Statements and transactions (registry_file_read.cpp).
  DWORD run(Query query);  // steps a statement that returns no row
  DWORD scalar(const char* sql, int64_t* value);
  DWORD beginRead();
  DWORD beginWrite();
  DWORD commit();
  void rollback();
  DWORD keyLive(int64_t id, bool* live);
  DWORD childKey(int64_t parent, const std::string& folded, int64_t* id);
  DWORD walkPath(int64_t base, const KeyPath& relative, int64_t* id);
  DWORD lookupKey(const KeyRef& base, const KeyPath& relative, bool* baseLive, int64_t* id);

  // The read cache (registry_file_read.cpp).
  bool readCounter(uint32_t* counter) const;
  void refreshCache();
  void noteRead(bool haveCounter, uint32_t counter);
  void makeRoom(size_t bytes);
  static std::string cacheKey(int64_t key, const std::string& folded);

  // Writing (registry_file_write.cpp). Inside a write transaction.
  DWORD refusedWrite(int64_t key, DWORD error);
  // Runs change() in one write transaction once the key is found still there
  // (ERROR_KEY_DELETED otherwise), commits when it succeeds, and drops the read
  // cache either way. The caller holds mutex_ and has checked that the file is
  // writable.
  template <typename Change>
  DWORD writeToKey(int64_t key, Change change);
  DWORD createPath(int64_t base, const KeyPath& relative, std::unordered_map<std::string, int64_t>* known, int64_t* id,
                   bool* created);
  DWORD upsertValue(int64_t key, const std::string& folded, const std::string& name, DWORD type, const BYTE* data,
                    DWORD size);
  DWORD removeValue(int64_t key, const std::string& folded, bool* removed);
  DWORD removeSubtree(int64_t top, bool keepTop);
  DWORD applyChange(int64_t base, const FileChange& change, std::unordered_map<std::string, int64_t>* known);

  // Enumeration (registry_file_enum.cpp): the index-th row of query for key, in
  // one read transaction; readRow copies it out.
  DWORD rowAt(Query query, int64_t key, DWORD index, const std::function<void(sqlite::Statement&)>& readRow);

  const std::string path_;
  const Kind kind_;
  const pid_t owner_;  // the process that opened it; a forked child gets its own

  std::mutex mutex_;
  State state_ = State::Unopened;                   // GUARDED_BY(mutex_)
  DWORD failure_ = ERROR_SUCCESS;                   // GUARDED_BY(mutex_)
  bool writable_ = false;                           // GUARDED_BY(mutex_)
  int64_t layout_ = 0;                              // GUARDED_BY(mutex_): the layout queries_ are prepared for
  sqlite::Connection connection_;                   // GUARDED_BY(mutex_)
  sqlite::Statement queries_[schema::kQueryCount];  // GUARDED_BY(mutex_)
  int counterFd_ = -1;                              // GUARDED_BY(mutex_): read-only, for the change counter
  ReadCache cache_;                                 // GUARDED_BY(mutex_)
  // SQLite reported damage in this file: from the next call on, every call of
  // this process fails with ERROR_REGISTRY_CORRUPT, so nothing is written on top
  // of it. Opening does not read the whole file, so damage shows when it is met.
  bool damaged_ = false;  // GUARDED_BY(mutex_)
  // This process ran the quick check before its first write (see
  // checkBeforeFirstWrite).
  bool checkedForWrite_ = false;  // GUARDED_BY(mutex_)
};

// The Win32 error for a SQLite result code.
DWORD errorFromSqlite(int code);

}  // namespace utils::linuxport
