// RegistryFile: enumeration of values and subkeys, and their counts.
#include "port/linux/registry_file.h"

namespace utils::linuxport {

DWORD RegistryFile::rowAt(Query query, int64_t key, DWORD index,
                          const std::function<void(sqlite::Statement&)>& readRow) {
  std::lock_guard lock(mutex_);
  if (const DWORD error = ensureOpen(false)) return error;
  if (!hasData()) return key == kRootKeyId ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  if (const DWORD error = beginRead()) return error;
  DWORD error = ERROR_SUCCESS;
  bool found = false;
  {
    sqlite::StatementRun statement(queries_[query]);
    statement->bindInt64(1, key);
    statement->bindInt64(2, index);
    const int rc = statement->step();
    if (rc == sqlite::kRow) {
      found = true;
      readRow(statement.get());
    } else if (rc != sqlite::kDone) {
      error = fromSqlite(rc);
    }
  }
  // Past the end of a deleted key's (empty) list: the handle hears that.
  bool live = true;
  if (error == ERROR_SUCCESS && !found) error = keyLive(key, &live);
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  if (error != ERROR_SUCCESS) return error;
  if (!live) return ERROR_KEY_DELETED;
  return found ? ERROR_SUCCESS : ERROR_NO_MORE_ITEMS;
}

DWORD RegistryFile::valueAt(int64_t key, DWORD index, ValueEntry* out) {
  return rowAt(schema::kValueAt, key, index, [out](sqlite::Statement& row) {
    out->name = std::string(row.columnText(0));
    out->type = static_cast<DWORD>(row.columnInt64(1));
    size_t bytes = 0;
    const unsigned char* blob = row.columnBlob(2, &bytes);
    out->data.assign(blob, blob + bytes);
  });
}

DWORD RegistryFile::subKeyAt(int64_t key, DWORD index, std::string* name) {
  return rowAt(schema::kSubKeyAt, key, index,
               [name](sqlite::Statement& row) { *name = std::string(row.columnText(0)); });
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
  const Query queries[2] = {schema::kCountSubKeys, schema::kCountValues};
  for (size_t i = 0; error == ERROR_SUCCESS && live && i < 2; ++i) {
    sqlite::StatementRun statement(queries_[queries[i]]);
    statement->bindInt64(1, key);
    const int rc = statement->step();
    if (rc == sqlite::kRow)
      found[i] = statement->columnInt64(0);
    else
      error = fromSqlite(rc);
  }
  if (error == ERROR_SUCCESS) error = commit();
  rollback();
  if (error != ERROR_SUCCESS) return error;
  if (!live) return ERROR_KEY_DELETED;
  if (subKeys != nullptr) *subKeys = static_cast<DWORD>(found[0]);
  if (values != nullptr) *values = static_cast<DWORD>(found[1]);
  return ERROR_SUCCESS;
}

}  // namespace utils::linuxport
