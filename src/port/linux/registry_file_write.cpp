// RegistryFile: every change to a store file, each in one write transaction, and
// batches of changes applied all or nothing.
#include <cstring>

#include "port/linux/registry_file.h"

namespace utils::linuxport {

using ChangeKind = port::RegistryChange::Kind;

// ---- Steps inside a write transaction ----

DWORD RegistryFile::refusedWrite(int64_t key, DWORD error) {
  if (key == kRootKeyId || error == ERROR_REGISTRY_CORRUPT) return error;
  bool live = false;
  if (hasData() && keyLive(key, &live) != ERROR_SUCCESS) live = true;  // keep the first error
  return live ? error : ERROR_KEY_DELETED;
}

// Finds or makes the keys of relative below base. known (may be null) remembers
// the keys of this transaction by folded path, so a batch that names the same
// keys again does not look them up again.
DWORD RegistryFile::createPath(int64_t base, const KeyPath& relative, std::unordered_map<std::string, int64_t>* known,
                               int64_t* id, bool* created) {
  int64_t parent = base;
  std::string path;
  for (size_t i = 0; i < relative.names.size(); ++i) {
    if (!path.empty()) path.push_back('\\');
    path += relative.foldedNames[i];
    if (known != nullptr) {
      if (auto it = known->find(path); it != known->end()) {
        parent = it->second;
        continue;
      }
    }
    int64_t child = 0;
    if (const DWORD error = childKey(parent, relative.foldedNames[i], &child)) return error;
    if (child == 0) {
      sqlite::StatementRun insert(queries_[schema::kInsertKey]);
      insert->bindInt64(1, parent);
      insert->bindText(2, relative.foldedNames[i]);
      insert->bindText(3, relative.names[i]);
      const int rc = insert->step();
      if (rc != sqlite::kDone) return fromSqlite(rc);
      child = connection_.lastInsertRowid();
      *created = true;
    }
    if (known != nullptr) (*known)[path] = child;
    parent = child;
  }
  *id = parent;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::upsertValue(int64_t key, const std::string& folded, const std::string& name, DWORD type,
                                const BYTE* data, DWORD size) {
  sqlite::StatementRun statement(queries_[schema::kUpsertValue]);
  statement->bindInt64(1, key);
  statement->bindText(2, folded);
  statement->bindText(3, name);
  statement->bindInt64(4, type);
  int rc = statement->bindBlob(5, data, size);
  if (rc == sqlite::kOk) rc = statement->step();
  return rc == sqlite::kDone ? ERROR_SUCCESS : fromSqlite(rc);
}

DWORD RegistryFile::removeValue(int64_t key, const std::string& folded, bool* removed) {
  sqlite::StatementRun statement(queries_[schema::kDeleteValue]);
  statement->bindInt64(1, key);
  statement->bindText(2, folded);
  const int rc = statement->step();
  if (rc != sqlite::kDone) return fromSqlite(rc);
  *removed = connection_.changes() != 0;
  return ERROR_SUCCESS;
}

// Deletes top's values and every key below it with their values; top itself
// too unless keepTop.
DWORD RegistryFile::removeSubtree(int64_t top, bool keepTop) {
  for (Query query : {schema::kDeleteTreeValues, schema::kDeleteTreeKeys}) {
    sqlite::StatementRun statement(queries_[query]);
    statement->bindInt64(1, top);
    if (query == schema::kDeleteTreeKeys) statement->bindInt64(2, keepTop ? top : 0);
    const int rc = statement->step();
    if (rc != sqlite::kDone) return fromSqlite(rc);
  }
  return ERROR_SUCCESS;
}

template <typename Change>
DWORD RegistryFile::writeToKey(int64_t key, Change change) {
  if (const DWORD error = beginWrite()) return error;
  bool live = false;
  DWORD error = keyLive(key, &live);
  if (error == ERROR_SUCCESS && !live) error = ERROR_KEY_DELETED;
  if (error == ERROR_SUCCESS) error = change();
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  cache_.clear();
  return error;
}

// ---- Keys ----

DWORD RegistryFile::createKey(const KeyRef& base, const KeyPath& relative, bool wantWrite, int64_t* id, bool* created) {
  std::lock_guard lock(mutex_);
  *created = false;
  if (const DWORD error = ensureOpen(false)) return error;
  bool live = false;
  int64_t existing = 0;
  if (const DWORD error = lookupKey(base, relative, &live, &existing)) return error;
  if (!live) return ERROR_KEY_DELETED;
  if (existing != 0) {
    if (wantWrite) {
      if (const DWORD error = writableLocked()) return error;
    }
    *id = existing;
    return ERROR_SUCCESS;
  }
  if (const DWORD error = writableLocked()) return error;
  int64_t made = 0;
  bool madeAny = false;
  const DWORD error = writeToKey(base.id, [&] { return createPath(base.id, relative, nullptr, &made, &madeAny); });
  if (error != ERROR_SUCCESS) return error;
  *id = made;
  *created = madeAny;
  return ERROR_SUCCESS;
}

DWORD RegistryFile::deleteTree(const KeyRef& base, const KeyPath& relative) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  bool live = false;
  int64_t target = 0;
  if (const DWORD error = lookupKey(base, relative, &live, &target)) return error;
  if (!live) return ERROR_KEY_DELETED;
  if (target == 0) return ERROR_FILE_NOT_FOUND;
  if (const DWORD error = writableLocked()) return error;

  // Looked up again under the write lock: another process may have changed it.
  return writeToKey(base.id, [&] {
    DWORD error = walkPath(base.id, relative, &target);
    if (error == ERROR_SUCCESS && target == 0) error = ERROR_FILE_NOT_FOUND;
    return error == ERROR_SUCCESS ? removeSubtree(target, relative.empty()) : error;
  });
}

// ---- Values ----

DWORD RegistryFile::setValue(int64_t key, const std::string& folded, const std::string& name, DWORD type,
                             const BYTE* data, DWORD size) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(key, error);
  return writeToKey(key, [&] { return upsertValue(key, folded, name, type, data, size); });
}

DWORD RegistryFile::deleteValue(int64_t key, const std::string& folded) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(key, error);
  return writeToKey(key, [&] {
    bool removed = false;
    const DWORD error = removeValue(key, folded, &removed);
    return (error == ERROR_SUCCESS && !removed) ? ERROR_FILE_NOT_FOUND : error;
  });
}

DWORD RegistryFile::takeValue(int64_t key, const std::string& folded, const BYTE* expected, DWORD size) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(key, error);
  // BEGIN IMMEDIATE takes the write lock before the read, so no other process can
  // read the same value as present and take it too.
  return writeToKey(key, [&] {
    DWORD error = ERROR_SUCCESS;
    {
      sqlite::StatementRun statement(queries_[schema::kValue]);
      statement->bindInt64(1, key);
      statement->bindText(2, folded);
      const int rc = statement->step();
      if (rc == sqlite::kRow) {
        size_t bytes = 0;
        const unsigned char* blob = statement->columnBlob(1, &bytes);
        if (bytes != size || (size > 0 && std::memcmp(blob, expected, size) != 0)) error = ERROR_INVALID_DATA;
      } else {
        error = (rc == sqlite::kDone) ? ERROR_FILE_NOT_FOUND : fromSqlite(rc);
      }
    }
    bool removed = false;
    return error == ERROR_SUCCESS ? removeValue(key, folded, &removed) : error;
  });
}

// ---- Batches ----

DWORD RegistryFile::applyChange(int64_t base, const FileChange& change,
                                std::unordered_map<std::string, int64_t>* known) {
  int64_t key = 0;
  bool created = false;
  switch (change.kind) {
    case ChangeKind::CreateKey: return createPath(base, change.key, known, &key, &created);
    case ChangeKind::SetValue:
      if (const DWORD error = createPath(base, change.key, known, &key, &created)) return error;
      return upsertValue(key, change.folded, change.name, change.type, change.data, change.size);
    case ChangeKind::DeleteValue: {
      if (const DWORD error = walkPath(base, change.key, &key)) return error;
      bool removed = false;
      return key == 0 ? ERROR_SUCCESS : removeValue(key, change.folded, &removed);
    }
    case ChangeKind::DeleteTree:
      if (const DWORD error = walkPath(base, change.key, &key)) return error;
      known->clear();  // remembered keys may be gone
      return key == 0 ? ERROR_SUCCESS : removeSubtree(key, change.key.empty());
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD RegistryFile::applyChanges(const KeyRef& base, const std::vector<FileChange>& changes, size_t* failed) {
  std::lock_guard lock(mutex_);
  *failed = 0;
  if (const DWORD error = ensureOpen(false)) return error;
  if (const DWORD error = writableLocked()) return refusedWrite(base.id, error);
  bool applied = false;
  const DWORD error = writeToKey(base.id, [&] {
    std::unordered_map<std::string, int64_t> known;
    for (size_t i = 0; i < changes.size(); ++i) {
      if (const DWORD changeError = applyChange(base.id, changes[i], &known)) {
        *failed = i;
        return changeError;
      }
    }
    applied = true;
    return DWORD{ERROR_SUCCESS};
  });
  if (error != ERROR_SUCCESS && applied) *failed = changes.size();  // the commit failed
  return error;
}

}  // namespace utils::linuxport
