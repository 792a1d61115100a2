// The registry as the library logic sees it: keys and typed values under the
// predefined roots, with Win32 error codes. Names compare case-insensitively.
// Value data keep the Windows byte layouts (REG_SZ is UTF-16LE with its
// terminator on every platform).
#pragma once

#include <cstddef>
#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

#include "utils/wintypes.h"

namespace utils::port {

// The registry's own limits, in UTF-16 code units as Windows counts them. Past
// them createKey and setValue fail with ERROR_INVALID_PARAMETER.
inline constexpr size_t kMaxKeyNameChars = 255;  // one component of a key path
inline constexpr size_t kMaxValueNameChars = 16383;
inline constexpr size_t kMaxKeyDepth = 512;  // components below a predefined root

// The length of a wide text in UTF-16 code units (wchar_t is UTF-32 on Linux).
inline size_t utf16Length(std::wstring_view text) {
  size_t units = text.size();
#if WCHAR_MAX > 0xFFFF
  for (wchar_t c : text) units += c > 0xFFFF ? 1 : 0;
#endif
  return units;
}

// One change of a batch (RegistryPort::applyChanges). Strings and data stay the
// caller's and must outlive the call.
struct RegistryChange {
  enum class Kind {
    CreateKey,    // subKey and its missing parents
    SetValue,     // name = data of type under subKey, created when missing
    DeleteValue,  // name under subKey; nothing to do when either is absent
    DeleteTree,   // subKey with everything below it; nothing to do when absent
  };
  Kind kind = Kind::CreateKey;
  const wchar_t* subKey = nullptr;  // below the batch's key; null or empty: that key
  const wchar_t* name = nullptr;    // value name; null or empty: the default value
  DWORD type = REG_NONE;
  const BYTE* data = nullptr;
  DWORD size = 0;
};

class RegistryPort {
 public:
  virtual ~RegistryPort() = default;

  // Opens an existing key below root (a predefined root or an open key) with the
  // given access. ERROR_FILE_NOT_FOUND when it does not exist.
  virtual DWORD openKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result) = 0;

  // Opens the key, creating it and any missing parents first. disposition (may be
  // null) receives REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
  virtual DWORD createKey(HKEY root, const wchar_t* subKey, REGSAM access, HKEY* result, DWORD* disposition) = 0;

  // Releases a key handle obtained from openKey or createKey.
  virtual DWORD closeKey(HKEY key) = 0;

  // RegQueryValueExW: type and size may be null; with data null only the size is
  // reported. A value larger than *size gives ERROR_MORE_DATA with *size set to
  // the size needed. A null or empty name is the key's default value.
  virtual DWORD queryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* size) = 0;

  // RegGetValueW: opens subKey (may be null) below key, reads the value and checks
  // its type against the RRF_RT_* flags (ERROR_UNSUPPORTED_TYPE otherwise; a
  // REG_BINARY accepted for RRF_RT_DWORD or RRF_RT_QWORD must have that width,
  // else ERROR_DATATYPE_MISMATCH). Strings come back terminated.
  virtual DWORD getValue(HKEY key, const wchar_t* subKey, const wchar_t* name, DWORD flags, DWORD* type, void* data,
                         DWORD* size);

  // RegSetValueExW: stores size bytes of data with the given type.
  virtual DWORD setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) = 0;

  // RegDeleteValueW: ERROR_FILE_NOT_FOUND when the value does not exist.
  virtual DWORD deleteValue(HKEY key, const wchar_t* name) = 0;

  // RegDeleteKeyValueW: deletes a value of subKey (may be null) below key.
  virtual DWORD deleteKeyValue(HKEY key, const wchar_t* subKey, const wchar_t* name);

  // Deletes the value when its data are exactly the size bytes at expected (its
  // type is not looked at), as one step that no other caller can come between on
  // stores with transactions. ERROR_SUCCESS when this call deleted it;
  // ERROR_FILE_NOT_FOUND when there is no such value (another caller took it);
  // ERROR_INVALID_DATA when its data differ (the value stays); else the error of
  // the read or the deletion. Needs KEY_QUERY_VALUE and KEY_SET_VALUE. The default
  // reads, compares and deletes in separate calls: a deletion's
  // ERROR_FILE_NOT_FOUND still tells concurrent takers apart.
  virtual DWORD takeValue(HKEY key, const wchar_t* name, const BYTE* expected, DWORD size);

  // RegDeleteTreeW: removes subKey with all its subkeys and values; with subKey
  // null, removes everything below key but keeps key itself.
  virtual DWORD deleteTree(HKEY key, const wchar_t* subKey) = 0;

  // Applies the changes in order below key as one batch: all of them, or none
  // when one fails (*failedIndex, may be null, is then its index, or count when
  // the final commit failed). Needs KEY_SET_VALUE and KEY_CREATE_SUB_KEY on key.
  // Stores with transactions apply a batch as one transaction, durable once; the
  // default applies the changes one by one through the calls above and is not
  // atomic: a failure half-way leaves the changes before it (the Win32 adapter
  // uses it: the registry's own transactions are a deprecated service that Wine
  // does not provide).
  virtual DWORD applyChanges(HKEY key, const RegistryChange* changes, size_t count, size_t* failedIndex);

  // RegEnumValueW: the index-th value in a stable order. nameChars is in and out
  // (in wide characters, terminator excluded on output); ERROR_NO_MORE_ITEMS past
  // the end; ERROR_MORE_DATA when the name or data buffer is too small.
  virtual DWORD enumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type, BYTE* data,
                          DWORD* dataSize) = 0;

  // RegEnumKeyExW: the index-th direct subkey's name, in a stable order.
  virtual DWORD enumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) = 0;

  // RegQueryInfoKeyW, reduced: the number of direct subkeys and of values; either
  // pointer may be null.
  virtual DWORD queryInfoKey(HKEY key, DWORD* subKeys, DWORD* values) = 0;
};

// For adapters that keep values themselves: hands stored data to a caller as
// RegQueryValueExW does (the type when asked; *size set to the data's size when
// size is given; the data copied when data is given and *size was enough, else
// ERROR_MORE_DATA).
DWORD copyValueOut(DWORD storedType, const std::vector<BYTE>& stored, DWORD* type, BYTE* data, DWORD* size);

// Copies a key or value name into a caller's buffer of *chars wide characters
// (terminator included); on return *chars is the length without it.
DWORD copyNameOut(const std::wstring& source, wchar_t* name, DWORD* chars);

// Closes a key when it goes out of scope.
class ScopedKey {
 public:
  explicit ScopedKey(RegistryPort& registry) : registry_(registry) {}
  ~ScopedKey() { reset(); }
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;

  HKEY* out() {
    reset();
    return &key_;
  }
  HKEY get() const { return key_; }
  void reset() {
    if (key_ != nullptr) registry_.closeKey(key_);
    key_ = nullptr;
  }

 private:
  RegistryPort& registry_;
  HKEY key_ = nullptr;
};

}  // namespace utils::port
