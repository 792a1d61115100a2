// One-call registry helpers: open or create a key, do one thing, close the key,
// answer 1 for success and 0 for failure. String values are stored as REG_SZ in
// UTF-16LE with the terminator on every platform. A null key path names the
// root key itself, as an empty one does, on every platform. No exception leaves
// a helper: one that is stopped (a failed allocation in the store) answers 0.
#include <string>

#include "common/utf16.h"
#include "diag/export_guard.h"
#include "port/platform.h"
#include "utils/primitives.h"
#include "utils/registry.h"

namespace {

using utils::port::RegistryPort;
using utils::port::ScopedKey;

RegistryPort& registry() { return *utils::port::platform().registry; }

bool isMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND; }

const wchar_t* orRoot(const wchar_t* keyPath) { return keyPath != nullptr ? keyPath : L""; }

using utils::diag::guardExport;

// Creates or opens keyPath for writing and stores one value.
BOOL writeValue(const wchar_t* keyPath, const wchar_t* valueName, DWORD type, const BYTE* data, DWORD size, HKEY root) {
  ScopedKey key(registry());
  if (registry().createKey(root, orRoot(keyPath), KEY_WRITE, key.out(), nullptr) != ERROR_SUCCESS) return 0;
  return registry().setValue(key.get(), valueName, type, data, size) == ERROR_SUCCESS ? 1 : 0;
}

// Opens keyPath for reading and reads at most *size bytes of one value.
BOOL readValue(const wchar_t* keyPath, const wchar_t* valueName, BYTE* data, DWORD* size, HKEY root) {
  ScopedKey key(registry());
  if (registry().openKey(root, orRoot(keyPath), KEY_QUERY_VALUE, key.out()) != ERROR_SUCCESS) return 0;
  return registry().queryValue(key.get(), valueName, nullptr, data, size) == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

extern "C" {

UTILS_API BOOL SetRegisterDWORD(const wchar_t* keyPath, const wchar_t* valueName, DWORD value, HKEY root) {
  return guardExport("SetRegisterDWORD", BOOL{0}, [&] {
    BYTE bytes[4];
    StoreLE32(bytes, value);
    return writeValue(keyPath, valueName, REG_DWORD, bytes, sizeof bytes, root);
  });
}

UTILS_API BOOL GetRegisterDWORD(const wchar_t* keyPath, const wchar_t* valueName, DWORD* value, HKEY root) {
  if (value == nullptr) return 0;
  return guardExport("GetRegisterDWORD", BOOL{0}, [&] {
    // A shorter stored value overwrites only its own bytes, as a direct read
    // into the caller's number would.
    BYTE bytes[4];
    StoreLE32(bytes, *value);
    DWORD size = sizeof bytes;
    const BOOL ok = readValue(keyPath, valueName, bytes, &size, root);
    if (ok) *value = LEtoHost32(bytes);
    return ok;
  });
}

UTILS_API BOOL SetRegisterStr(const wchar_t* keyPath, const wchar_t* valueName, const wchar_t* value, HKEY root) {
  if (value == nullptr) return 0;
  return guardExport("SetRegisterStr", BOOL{0}, [&] {
    std::u16string units = utils::wideToUtf16(value);
    units.push_back(u'\0');
    const std::string bytes = utils::utf16ToLeBytes(units);
    return writeValue(keyPath, valueName, REG_SZ, reinterpret_cast<const BYTE*>(bytes.data()),
                      static_cast<DWORD>(bytes.size()), root);
  });
}

UTILS_API BOOL GetRegisterStr(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer, DWORD size,
                              HKEY root) {
  // A buffer of no characters holds no value (and a null data pointer would ask
  // the store for the size instead).
  if (buffer == nullptr || size == 0) return 0;
  // The stored UTF-16 bytes are read straight into the caller's buffer (2 x size
  // bytes, which the buffer always has room for) and widened there in place:
  // nothing is allocated, whatever size the caller claims.
  constexpr DWORD kMaxEvenBytes = 0xFFFFFFFEu;
  DWORD byteCount = size > kMaxEvenBytes / 2 ? kMaxEvenBytes : size * 2;
  return guardExport("GetRegisterStr", BOOL{0}, [&]() -> BOOL {
    if (!readValue(keyPath, valueName, reinterpret_cast<BYTE*>(buffer), &byteCount, root)) return 0;
    utils::widenUtf16InPlace(buffer, byteCount / 2);
    return 1;
  });
}

UTILS_API BOOL CreateRegisterSubKey(const wchar_t* keyPath, HKEY root) {
  return guardExport("CreateRegisterSubKey", BOOL{0}, [&]() -> BOOL {
    ScopedKey key(registry());
    return registry().createKey(root, orRoot(keyPath), KEY_WRITE, key.out(), nullptr) == ERROR_SUCCESS ? 1 : 0;
  });
}

UTILS_API BOOL DeleteRegisterSubkey(const wchar_t* keyPath, const wchar_t* valueName, HKEY root) {
  return guardExport("DeleteRegisterSubkey", BOOL{0}, [&]() -> BOOL {
    const DWORD error = registry().deleteKeyValue(root, orRoot(keyPath), valueName);
    return (error == ERROR_SUCCESS || isMissing(error)) ? 1 : 0;
  });
}

UTILS_API BOOL DeleteRegisterSubTree(const wchar_t* keyPath, HKEY root) {
  // An empty path would empty the whole root: refused.
  if (keyPath == nullptr || keyPath[0] == L'\0') return 0;
  return guardExport("DeleteRegisterSubTree", BOOL{0}, [&]() -> BOOL {
    const DWORD error = registry().deleteTree(root, keyPath);
    return (error == ERROR_SUCCESS || isMissing(error)) ? 1 : 0;
  });
}

}  // extern "C"
