// RegistryFile: statements and transactions, key lookups, value reads and the
// read cache that keeps warm reads from touching SQLite.
#include <unistd.h>

#include <cstring>

#include "port/linux/registry_file.h"

namespace utils::linuxport {
namespace {

// Bounds the read cache; it is emptied when full.
constexpr size_t kCacheLimitBytes = size_t{1} << 20;

// The SQLite database header: format versions (1 = rollback journal) at 18 and 19,
// the file change counter, big-endian, at 24. In rollback-journal mode every
// commit increments the counter.
constexpr size_t kHeaderPrefix = 28;

}  // namespace

void RegistryFile::ReadCache::clear() {
  valid = false;
  bytes = 0;
  keyByPath.clear();
  keyLive.clear();
  values.clear();
}

// ---- Statements and transactions ----

DWORD RegistryFile::run(Query query) {
  sqlite::StatementRun statement(queries_[query]);
  const int rc = statement->step();
  return (rc == sqlite::kDone || rc == sqlite::kRow) ? ERROR_SUCCESS : fromSqlite(rc);
}

DWORD RegistryFile::beginRead() {
  if (const DWORD error = run(schema::kBegin)) return error;
  if (layout_ != schema::kFirstLayout) return ERROR_SUCCESS;
  const DWORD error = followLayoutChange();
  if (error != ERROR_SUCCESS) rollback();
  return error;
}

DWORD RegistryFile::beginWrite() {
  if (layout_ == schema::kFirstLayout) {
    if (const DWORD error = migrateToCurrentLayout()) return error;
  }
  const DWORD error = run(schema::kBeginImmediate);
  if (error == ERROR_CANTOPEN || error == ERROR_ACCESS_DENIED) return ERROR_ACCESS_DENIED;
  return error;
}

DWORD RegistryFile::commit() {
  DWORD error = run(schema::kCommit);
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
  sqlite::StatementRun statement(queries_[schema::kKeyExists]);
  statement->bindInt64(1, id);
  const int rc = statement->step();
  if (rc != sqlite::kRow && rc != sqlite::kDone) return fromSqlite(rc);
  *live = rc == sqlite::kRow;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::childKey(int64_t parent, const std::string& folded, int64_t* id) {
  sqlite::StatementRun statement(queries_[schema::kChildKey]);
  statement->bindInt64(1, parent);
  statement->bindText(2, folded);
  const int rc = statement->step();
  if (rc != sqlite::kRow && rc != sqlite::kDone) return fromSqlite(rc);
  *id = (rc == sqlite::kRow) ? statement->columnInt64(0) : 0;
  return ERROR_SUCCESS;
}

// The key at relative below base, one name at a time; 0 when it does not exist.
DWORD RegistryFile::walkPath(int64_t base, const KeyPath& relative, int64_t* id) {
  int64_t current = base;
  for (const std::string& name : relative.foldedNames) {
    if (const DWORD error = childKey(current, name, &current)) return error;
    if (current == 0) break;
  }
  *id = current;
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

std::string RegistryFile::cacheKey(int64_t key, const std::string& folded) {
  std::string text(sizeof key, '\0');
  std::memcpy(text.data(), &key, sizeof key);
  text += folded;
  return text;
}

// ---- Keys ----

DWORD RegistryFile::lookupKey(const KeyRef& base, const KeyPath& relative, bool* baseLive, int64_t* id) {
  if (!hasData()) {
    *baseLive = base.id == kRootKeyId;
    *id = (*baseLive && relative.empty()) ? kRootKeyId : 0;
    return ERROR_SUCCESS;
  }
  refreshCache();
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
  std::string pathKey;
  if (!haveTarget) {
    pathKey = cacheKey(base.id, relative.folded);
    if (auto it = cache_.keyByPath.find(pathKey); it != cache_.keyByPath.end()) {
      target = it->second;
      haveTarget = true;
    }
  }
  if (!haveLive || !haveTarget) {
    if (const DWORD error = beginRead()) return error;
    DWORD error = haveLive ? ERROR_SUCCESS : keyLive(base.id, &live);
    if (error == ERROR_SUCCESS && !haveTarget) error = walkPath(base.id, relative, &target);
    uint32_t counter = 0;
    const bool haveCounter = readCounter(&counter);
    if (error == ERROR_SUCCESS) error = commit();
    rollback();
    if (error != ERROR_SUCCESS) return error;
    noteRead(haveCounter, counter);
    if (cache_.valid) {
      makeRoom(pathKey.size() + 64);
      if (!haveLive) cache_.keyLive[base.id] = live;
      if (!haveTarget) cache_.keyByPath[std::move(pathKey)] = target;
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
  if (const DWORD error = lookupKey(base, relative, &live, id)) return error;
  if (!live) return ERROR_KEY_DELETED;
  return *id == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

// ---- Values ----

DWORD RegistryFile::queryValue(int64_t key, const std::string& folded, DWORD* type, BYTE* data, DWORD* size) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) return key == kRootKeyId ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;

  refreshCache();
  std::string valueKey = cacheKey(key, folded);
  const CachedValue* value = nullptr;
  CachedValue fetched;
  if (auto it = cache_.values.find(valueKey); it != cache_.values.end()) {
    value = &it->second;
  } else {
    if (const DWORD error = beginRead()) return error;
    DWORD error = ERROR_SUCCESS;
    bool live = true;
    {
      sqlite::StatementRun statement(queries_[schema::kValue]);
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
        error = fromSqlite(rc);
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
      makeRoom(valueKey.size() + fetched.data.size() + 64);
      value = &(cache_.values[std::move(valueKey)] = std::move(fetched));
    } else {
      value = &fetched;
    }
  }
  if (!value->present) return ERROR_FILE_NOT_FOUND;
  return port::copyValueOut(value->type, value->data, type, data, size);
}

}  // namespace utils::linuxport
