#include "port/linux/registry_store.h"

#include <cstring>
#include <vector>

#include "common/utf16.h"
#include "port/linux/registry_paths.h"

namespace utils::linuxport {
namespace {

// Access bits that ask to change a key.
constexpr REGSAM kWriteBits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE;

bool isPredefined(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER; }

// Copies a UTF-8 name into a caller buffer of *chars wide characters (terminator
// included); on return *chars is the length without the terminator.
DWORD copyName(const std::string& utf8, wchar_t* name, DWORD* chars) {
  return port::copyNameOut(utf8ToWide(utf8), name, chars);
}

}  // namespace

RegistryStore::RegistryStore(const std::string& machinePath, const std::string& userPath)
    : machine_(RegistryFile::acquire(machinePath, RegistryFile::Kind::Machine)),
      user_(RegistryFile::acquire(userPath, RegistryFile::Kind::User)) {}

RegistryStore::~RegistryStore() = default;

std::unique_ptr<RegistryStore> RegistryStore::fromEnvironment() {
  const RegistryPaths paths = registryPathsFromEnvironment();
  return std::make_unique<RegistryStore>(paths.machine, paths.user);
}

DWORD RegistryStore::resolve(HKEY key, Handle* out) const {
  if (key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER) {
    out->file = (key == HKEY_LOCAL_MACHINE) ? machine_.get() : user_.get();
    out->key = KeyRef{};
    out->access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  std::lock_guard lock(handlesMutex_);
  auto it = handles_.find(reinterpret_cast<uintptr_t>(key));
  if (it == handles_.end()) return ERROR_INVALID_HANDLE;
  *out = it->second;
  return ERROR_SUCCESS;
}

HKEY RegistryStore::addHandle(RegistryFile* file, KeyRef key, REGSAM access) {
  std::lock_guard lock(handlesMutex_);
  const uintptr_t value = nextHandle_;
  nextHandle_ += 4;  // never reused, so a stale handle cannot reach another key
  handles_.emplace(value, Handle{file, std::move(key), access});
  return reinterpret_cast<HKEY>(value);
}

size_t RegistryStore::openHandles() const {
  std::lock_guard lock(handlesMutex_);
  return handles_.size();
}

DWORD RegistryStore::openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Handle base;
  if (const DWORD error = resolve(root, &base)) return error;
  KeyPath path;
  if (!parseKeyPath(subKey, &path)) return ERROR_BAD_PATHNAME;
  int64_t id = 0;
  if (const DWORD error = base.file->openKey(base.key, path, &id)) return error;
  if ((access & kWriteBits) != 0) {
    if (const DWORD error = base.file->checkWritable()) return error;
  }
  *result = addHandle(base.file, KeyRef{id, base.key.depth + path.names.size()}, access);
  return ERROR_SUCCESS;
}

DWORD RegistryStore::createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Handle base;
  if (const DWORD error = resolve(root, &base)) return error;
  KeyPath path;
  if (!parseKeyPath(subKey, &path)) return ERROR_BAD_PATHNAME;
  if (path.longestName > port::kMaxKeyNameChars || base.key.depth + path.names.size() > port::kMaxKeyDepth) {
    return ERROR_INVALID_PARAMETER;
  }
  int64_t id = 0;
  bool created = false;
  if (const DWORD error = base.file->createKey(base.key, path, (access & kWriteBits) != 0, &id, &created)) {
    return error;
  }
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = addHandle(base.file, KeyRef{id, base.key.depth + path.names.size()}, access);
  return ERROR_SUCCESS;
}

DWORD RegistryStore::closeKey(HKEY key) {
  if (isPredefined(key)) return ERROR_SUCCESS;
  std::lock_guard lock(handlesMutex_);
  return handles_.erase(reinterpret_cast<uintptr_t>(key)) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD RegistryStore::queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  if ((handle.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  return handle.file->queryValue(handle.key.id, foldedName(name), type, data, size);
}

DWORD RegistryStore::setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  if ((handle.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if (name != nullptr && port::utf16Length(name) > port::kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  const std::string spelled = (name == nullptr) ? std::string() : wideToUtf8(name);
  return handle.file->setValue(handle.key.id, foldedName(name), spelled, type, data, size);
}

DWORD RegistryStore::deleteValue(HKEY key, const wchar_t* name) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  if ((handle.access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
  return handle.file->deleteValue(handle.key.id, foldedName(name));
}

DWORD RegistryStore::takeValue(HKEY key, const wchar_t* name, const BYTE* expected, DWORD size) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  constexpr REGSAM kNeeded = KEY_QUERY_VALUE | KEY_SET_VALUE;
  if ((handle.access & kNeeded) != kNeeded) return ERROR_ACCESS_DENIED;
  if (expected == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  return handle.file->takeValue(handle.key.id, foldedName(name), expected, size);
}

DWORD RegistryStore::deleteTree(HKEY key, const wchar_t* subKey) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  KeyPath path;
  if (!parseKeyPath(subKey, &path)) return ERROR_BAD_PATHNAME;
  return handle.file->deleteTree(handle.key, path);
}

DWORD RegistryStore::applyChanges(HKEY key, const port::RegistryChange* changes, size_t count, size_t* failedIndex) {
  if (failedIndex != nullptr) *failedIndex = 0;
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  if ((handle.access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) {
    return ERROR_ACCESS_DENIED;
  }
  if (changes == nullptr && count != 0) return ERROR_INVALID_PARAMETER;
  // Every change is checked and converted before the transaction starts.
  std::vector<FileChange> prepared(count);
  for (size_t i = 0; i < count; ++i) {
    const port::RegistryChange& change = changes[i];
    FileChange& out = prepared[i];
    auto refuse = [&](DWORD error) {
      if (failedIndex != nullptr) *failedIndex = i;
      return error;
    };
    out.kind = change.kind;
    if (!parseKeyPath(change.subKey, &out.key)) return refuse(ERROR_BAD_PATHNAME);
    const bool creates =
        change.kind == port::RegistryChange::Kind::CreateKey || change.kind == port::RegistryChange::Kind::SetValue;
    if (creates && (out.key.longestName > port::kMaxKeyNameChars ||
                    handle.key.depth + out.key.names.size() > port::kMaxKeyDepth)) {
      return refuse(ERROR_INVALID_PARAMETER);
    }
    if (change.kind == port::RegistryChange::Kind::SetValue) {
      if (change.data == nullptr && change.size != 0) return refuse(ERROR_INVALID_PARAMETER);
      if (change.name != nullptr && port::utf16Length(change.name) > port::kMaxValueNameChars) {
        return refuse(ERROR_INVALID_PARAMETER);
      }
      out.name = (change.name == nullptr) ? std::string() : wideToUtf8(change.name);
      out.type = change.type;
      out.data = change.data;
      out.size = change.size;
    }
    out.folded = foldedName(change.name);
  }
  size_t failed = 0;
  const DWORD error = handle.file->applyChanges(handle.key, prepared, &failed);
  if (error != ERROR_SUCCESS && failedIndex != nullptr) *failedIndex = failed;
  return error;
}

DWORD RegistryStore::enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                               DWORD* dataSize) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  if ((handle.access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
  ValueEntry value;
  if (const DWORD error = handle.file->valueAt(handle.key.id, index, &value)) return error;
  if (const DWORD error = copyName(value.name, name, nameChars)) return error;
  return port::copyValueOut(value.type, value.data, type, data, dataSize);
}

DWORD RegistryStore::enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  if ((handle.access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
  std::string subKey;
  if (const DWORD error = handle.file->subKeyAt(handle.key.id, index, &subKey)) return error;
  return copyName(subKey, name, nameChars);
}

DWORD RegistryStore::queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) {
  Handle handle;
  if (const DWORD error = resolve(key, &handle)) return error;
  return handle.file->counts(handle.key.id, subKeys, values);
}

int64_t RegistryStore::fileLayout(HKEY root) {
  if (!isPredefined(root)) return 0;
  return (root == HKEY_LOCAL_MACHINE ? machine_ : user_)->layout();
}

DWORD RegistryStore::checkIntegrity(HKEY root, std::string* report) {
  if (!isPredefined(root)) return ERROR_INVALID_HANDLE;
  return (root == HKEY_LOCAL_MACHINE ? machine_ : user_)->checkIntegrity(report);
}

}  // namespace utils::linuxport
