// Operations that every registry adapter without a native equivalent shares:
// RegGetValueW's type checks, RegDeleteKeyValueW, taking a value and batches of
// changes, built on the primitive calls.
#include <cstring>
#include <vector>

#include "port/registry_port.h"

namespace utils::port {
namespace {

DWORD allowedFlagFor(DWORD type) {
  switch (type) {
    case REG_NONE: return RRF_RT_REG_NONE;
    case REG_SZ: return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ: return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY: return RRF_RT_REG_BINARY;
    case REG_DWORD: return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ: return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD: return RRF_RT_REG_QWORD;
    default: return 0;
  }
}

bool isStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// A REG_BINARY read as a number must have the number's width.
DWORD checkBinaryWidth(DWORD flags, DWORD type, size_t size) {
  if (type != REG_BINARY) return ERROR_SUCCESS;
  const DWORD restriction = flags & RRF_RT_ANY;
  if (restriction == RRF_RT_DWORD && size != 4) return ERROR_DATATYPE_MISMATCH;
  if (restriction == RRF_RT_QWORD && size != 8) return ERROR_DATATYPE_MISMATCH;
  return ERROR_SUCCESS;
}

// Strings come back terminated: one UTF-16 NUL is added when the stored data lack
// it (REG_MULTI_SZ needs a second one after the last string).
void terminateString(DWORD type, std::vector<BYTE>& bytes) {
  if (bytes.size() % 2 != 0) bytes.push_back(0);
  auto endsWithNul = [&bytes] {
    const size_t n = bytes.size();
    return n >= 2 && bytes[n - 1] == 0 && bytes[n - 2] == 0;
  };
  if (!endsWithNul()) bytes.insert(bytes.end(), {0, 0});
  if (type == REG_MULTI_SZ) {
    const size_t n = bytes.size();
    const bool doubled = n >= 4 && bytes[n - 3] == 0 && bytes[n - 4] == 0;
    if (!doubled && n > 2) bytes.insert(bytes.end(), {0, 0});
  }
}

DWORD applyOne(RegistryPort& registry, HKEY key, const RegistryChange& change) {
  using Kind = RegistryChange::Kind;
  ScopedKey target(registry);
  switch (change.kind) {
    case Kind::CreateKey: return registry.createKey(key, change.subKey, KEY_WRITE, target.out(), nullptr);
    case Kind::SetValue:
      if (const DWORD error = registry.createKey(key, change.subKey, KEY_SET_VALUE, target.out(), nullptr)) {
        return error;
      }
      return registry.setValue(target.get(), change.name, change.type, change.data, change.size);
    case Kind::DeleteValue: {
      DWORD error = registry.openKey(key, change.subKey, KEY_SET_VALUE, target.out());
      if (error == ERROR_SUCCESS) error = registry.deleteValue(target.get(), change.name);
      return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    case Kind::DeleteTree: {
      const DWORD error = registry.deleteTree(key, change.subKey);
      return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

}  // namespace

DWORD RegistryPort::applyChanges(HKEY key, const RegistryChange* changes, size_t count, size_t* failedIndex) {
  if (failedIndex != nullptr) *failedIndex = 0;
  if (changes == nullptr && count != 0) return ERROR_INVALID_PARAMETER;
  for (size_t i = 0; i < count; ++i) {
    if (const DWORD error = applyOne(*this, key, changes[i])) {
      if (failedIndex != nullptr) *failedIndex = i;
      return error;
    }
  }
  return ERROR_SUCCESS;
}

DWORD RegistryPort::getValue(HKEY key, const wchar_t* subKey, const wchar_t* name, DWORD flags, DWORD* type, void* data,
                             DWORD* size) {
  if ((flags & RRF_RT_ANY) == 0) return ERROR_INVALID_PARAMETER;
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;

  const DWORD capacity = (data != nullptr) ? *size : 0;
  auto fail = [&](DWORD error) {
    if ((flags & RRF_ZEROONFAILURE) != 0 && data != nullptr && capacity > 0) std::memset(data, 0, capacity);
    return error;
  };

  ScopedKey opened(*this);
  HKEY target = key;
  if (subKey != nullptr && subKey[0] != L'\0') {
    const DWORD error = openKey(key, subKey, KEY_QUERY_VALUE, opened.out());
    if (error != ERROR_SUCCESS) return fail(error);
    target = opened.get();
  }

  // Read the whole value; retry if it grows between the size query and the read.
  DWORD storedType = REG_NONE;
  std::vector<BYTE> bytes;
  for (;;) {
    DWORD needed = 0;
    DWORD error = queryValue(target, name, &storedType, nullptr, &needed);
    if (error != ERROR_SUCCESS) return fail(error);
    bytes.resize(needed);
    DWORD got = needed;
    error = queryValue(target, name, &storedType, bytes.data(), &got);
    if (error == ERROR_MORE_DATA) continue;
    if (error != ERROR_SUCCESS) return fail(error);
    bytes.resize(got);
    break;
  }

  if ((allowedFlagFor(storedType) & flags) == 0) return fail(ERROR_UNSUPPORTED_TYPE);
  if (const DWORD error = checkBinaryWidth(flags, storedType, bytes.size()); error != ERROR_SUCCESS) {
    return fail(error);
  }
  if (isStringType(storedType)) terminateString(storedType, bytes);

  if (type != nullptr) *type = storedType;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(bytes.size());
  *size = needed;
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < needed) return fail(ERROR_MORE_DATA);
  if (needed > 0) std::memcpy(data, bytes.data(), needed);
  return ERROR_SUCCESS;
}

DWORD RegistryPort::deleteKeyValue(HKEY key, const wchar_t* subKey, const wchar_t* name) {
  if (subKey == nullptr || subKey[0] == L'\0') return deleteValue(key, name);
  ScopedKey opened(*this);
  const DWORD error = openKey(key, subKey, KEY_SET_VALUE, opened.out());
  if (error != ERROR_SUCCESS) return error;
  return deleteValue(opened.get(), name);
}

DWORD RegistryPort::takeValue(HKEY key, const wchar_t* name, const BYTE* expected, DWORD size) {
  if (expected == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  DWORD stored = 0;
  if (const DWORD error = queryValue(key, name, nullptr, nullptr, &stored)) return error;
  if (stored != size) return ERROR_INVALID_DATA;
  std::vector<BYTE> data(size);
  DWORD got = size;
  const DWORD error = queryValue(key, name, nullptr, data.data(), &got);
  if (error == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (error != ERROR_SUCCESS) return error;
  if (got != size || (size > 0 && std::memcmp(data.data(), expected, size) != 0)) return ERROR_INVALID_DATA;
  return deleteValue(key, name);
}

DWORD copyValueOut(DWORD storedType, const std::vector<BYTE>& stored, DWORD* type, BYTE* data, DWORD* size) {
  if (type != nullptr) *type = storedType;
  if (size == nullptr) return ERROR_SUCCESS;
  const DWORD capacity = *size;
  *size = static_cast<DWORD>(stored.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < stored.size()) return ERROR_MORE_DATA;
  if (!stored.empty()) std::memcpy(data, stored.data(), stored.size());
  return ERROR_SUCCESS;
}

DWORD copyNameOut(const std::wstring& source, wchar_t* name, DWORD* chars) {
  if (name == nullptr || chars == nullptr) return ERROR_INVALID_PARAMETER;
  if (*chars < source.size() + 1) return ERROR_MORE_DATA;
  std::memcpy(name, source.c_str(), (source.size() + 1) * sizeof(wchar_t));
  *chars = static_cast<DWORD>(source.size());
  return ERROR_SUCCESS;
}

}  // namespace utils::port
