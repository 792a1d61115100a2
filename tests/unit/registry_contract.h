// The registry contract that every RegistryPort must keep, as a typed
// GoogleTest suite. A test program instantiates it with a factory type that has
// `using Registry = ...` (with size_t openHandles()), make() for a new, empty
// registry, and makeReadOnlyMachine() for one whose HKEY_LOCAL_MACHINE is empty
// and not writable (null when that is not possible). A factory whose registry
// answers a step otherwise for a reason of its own may name it in a static
// `const char* deviation(std::string_view step)` giving the reason (null: kept):
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, RegistryContract, ::testing::Types<Factory>);
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/utf16.h"
#include "port/registry_port.h"

namespace registry_contract {

using utils::port::RegistryPort;
using utils::port::ScopedKey;

inline std::vector<BYTE> dwordBytes(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}

// REG_SZ layout: UTF-16LE; terminated adds the NUL.
inline std::vector<BYTE> stringBytes(const std::wstring& text, bool terminated = true) {
  std::u16string units = utils::wideToUtf16(text);
  if (terminated) units.push_back(u'\0');
  const std::string bytes = utils::utf16ToLeBytes(units);
  return {bytes.begin(), bytes.end()};
}

inline DWORD setBytes(RegistryPort& registry, HKEY key, const wchar_t* name, DWORD type,
                      const std::vector<BYTE>& bytes) {
  return registry.setValue(key, name, type, bytes.empty() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size()));
}

// The value's bytes and type; empty with the error on failure.
inline DWORD readBytes(RegistryPort& registry, HKEY key, const wchar_t* name, std::vector<BYTE>* bytes,
                       DWORD* type = nullptr) {
  DWORD size = 0;
  DWORD error = registry.queryValue(key, name, type, nullptr, &size);
  if (error != ERROR_SUCCESS) return error;
  bytes->assign(size, 0xCC);
  error = registry.queryValue(key, name, type, bytes->data(), &size);
  bytes->resize(size);
  return error;
}

// Every value name (or subkey name) in enumeration order; *end: the code that
// ended it.
inline std::vector<std::wstring> allNames(RegistryPort& registry, HKEY key, bool subKeys, DWORD* end) {
  std::vector<std::wstring> names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[64] = {};
    DWORD chars = 64;
    *end = subKeys ? registry.enumKey(key, i, name, &chars)
                   : registry.enumValue(key, i, name, &chars, nullptr, nullptr, nullptr);
    if (*end != ERROR_SUCCESS) return names;
    names.emplace_back(name, chars);
  }
}

// Whether the factory's registry answers the step otherwise (said in the output).
template <typename Factory>
bool deviates(std::string_view step) {
  const char* reason = nullptr;
  if constexpr (requires { Factory::deviation(step); }) reason = Factory::deviation(step);
  if (reason != nullptr) std::printf("deviation, %.*s: %s\n", static_cast<int>(step.size()), step.data(), reason);
  return reason != nullptr;
}

}  // namespace registry_contract

template <typename Factory>
class RegistryContract : public ::testing::Test {
 protected:
  void SetUp() override { registry_ = factory_.make(); }
  void TearDown() override {
    if (registry_ != nullptr) {
      EXPECT_EQ(registry_->openHandles(), 0u) << "a test leaked key handles";
    }
  }
  utils::port::RegistryPort& reg() { return *registry_; }

  Factory factory_;  // declared first: destroyed after the registry it serves
  std::unique_ptr<typename Factory::Registry> registry_;
};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, CreateOpenAndClose) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  for (const DWORD expected : {static_cast<DWORD>(REG_CREATED_NEW_KEY), static_cast<DWORD>(REG_OPENED_EXISTING_KEY)}) {
    ScopedKey key(r);
    DWORD disposition = 0;
    ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"Software\\Vorlane\\Pelmora", KEY_ALL_ACCESS, key.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, expected);
    EXPECT_NE(key.get(), nullptr);
  }
  ScopedKey parent(r);
  ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"Software\\Vorlane", KEY_READ, parent.out()), ERROR_SUCCESS);
  ScopedKey child(r);
  ASSERT_EQ(r.openKey(parent.get(), L"Pelmora", KEY_READ, child.out()), ERROR_SUCCESS);
  ScopedKey again(r);
  ASSERT_EQ(r.openKey(parent.get(), nullptr, KEY_READ, again.out()), ERROR_SUCCESS);
  EXPECT_NE(again.get(), parent.get()) << "every open gives a new handle";
  ScopedKey trailing(r);
  EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, L"Software\\Vorlane\\", KEY_READ, trailing.out()), ERROR_SUCCESS);

  HKEY missing = reinterpret_cast<HKEY>(0x1);
  EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, L"Software\\Missing", KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(r.openKey(HKEY_LOCAL_MACHINE, L"Software\\Vorlane", KEY_READ, &missing), ERROR_FILE_NOT_FOUND)
      << "the roots are separate";
  EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, L"Software", KEY_READ, nullptr), ERROR_INVALID_PARAMETER);

  for (const wchar_t* bad : {L"\\Software", L"Software\\\\Vorlane", L"\\", L"New\\\\Key"}) {
    if (deviates<TypeParam>("malformed key paths")) break;
    EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, bad, KEY_READ, &missing), ERROR_BAD_PATHNAME) << bad;
    EXPECT_EQ(r.createKey(HKEY_CURRENT_USER, bad, KEY_ALL_ACCESS, &missing, nullptr), ERROR_BAD_PATHNAME) << bad;
    EXPECT_EQ(r.deleteTree(HKEY_CURRENT_USER, bad), ERROR_BAD_PATHNAME) << bad;
  }
  EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, L"New", KEY_READ, &missing), ERROR_FILE_NOT_FOUND)
      << "a refused path creates nothing";

  HKEY closed = nullptr;
  ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"Software", KEY_READ, &closed), ERROR_SUCCESS);
  EXPECT_EQ(r.closeKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(r.closeKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(r.closeKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  const DWORD one = 1;
  for (HKEY bad : {closed, HKEY_CLASSES_ROOT, HKEY_USERS, reinterpret_cast<HKEY>(0x12345)}) {
    EXPECT_EQ(r.openKey(bad, L"Software", KEY_READ, &missing), ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.createKey(bad, L"Software", KEY_READ, &missing, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.queryValue(bad, L"x", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.setValue(bad, L"x", REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.deleteValue(bad, L"x"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.deleteTree(bad, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(r.queryInfoKey(bad, nullptr, nullptr), ERROR_INVALID_HANDLE);
  }
}

TYPED_TEST_P(RegistryContract, ValuesKeepTypeAndBytesAndReportSizes) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  ScopedKey key(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"Values", KEY_ALL_ACCESS, key.out(), nullptr), ERROR_SUCCESS);
  const struct {
    const wchar_t* name;  // null: the default value, read back as ""
    DWORD type;
    std::vector<BYTE> bytes;
  } values[] = {
      {L"Dword", REG_DWORD, dwordBytes(0x01020304)},
      {L"Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
      {L"Text", REG_SZ, stringBytes(L"hello")},
      {L"Binary", REG_BINARY, {0xDE, 0xAD, 0x00}},
      {L"Empty", REG_BINARY, {}},
      {nullptr, REG_SZ, stringBytes(L"default")},
      {L"Binary4", REG_BINARY, {1, 0, 0, 0}},
  };
  for (const auto& value : values) {
    ASSERT_EQ(setBytes(r, key.get(), value.name, value.type, value.bytes), ERROR_SUCCESS);
  }
  DWORD type = 0;
  BYTE small[2] = {};
  DWORD size = sizeof small;
  EXPECT_EQ(r.queryValue(key.get(), L"Dword", &type, small, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4u) << "ERROR_MORE_DATA reports the size needed";
  EXPECT_EQ(r.queryValue(key.get(), L"Dword", nullptr, nullptr, nullptr), ERROR_SUCCESS);
  BYTE buffer[4];
  EXPECT_EQ(r.queryValue(key.get(), L"Dword", nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);

  std::vector<BYTE> bytes;
  for (const auto& value : values) {
    ASSERT_EQ(readBytes(r, key.get(), value.name != nullptr ? value.name : L"", &bytes, &type), ERROR_SUCCESS);
    EXPECT_EQ(bytes, value.bytes) << (value.name != nullptr ? value.name : L"(default)");
    EXPECT_EQ(type, value.type) << (value.name != nullptr ? value.name : L"(default)");
  }
  size = 11;  // "hello" takes 12 bytes in UTF-16LE with its terminator
  std::vector<BYTE> tooSmall(11);
  EXPECT_EQ(r.queryValue(key.get(), L"Text", &type, tooSmall.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(readBytes(r, key.get(), L"Missing", &bytes), ERROR_FILE_NOT_FOUND);
  if (!deviates<TypeParam>("no data for a size")) {
    EXPECT_EQ(r.setValue(key.get(), L"Bad", REG_BINARY, nullptr, 3), ERROR_INVALID_PARAMETER);
  }

  // getValue: the type flags, the widths, a string comes back terminated. (Read
  // by queryValue, an unterminated string gains a terminator on some systems.)
  ASSERT_EQ(setBytes(r, key.get(), L"Unterminated", REG_SZ, stringBytes(L"abc", false)), ERROR_SUCCESS);
  constexpr uint64_t kUnchanged = 0xFFFFFFFF;
  const struct {
    HKEY key;
    const wchar_t* subKey;
    const wchar_t* name;
    DWORD flags;
    DWORD size;
    DWORD expected;
    uint64_t value;  // what the buffer holds after the call
    DWORD type;      // on success
  } rows[] = {
      {HKEY_CURRENT_USER, L"VALUES", L"dword", RRF_RT_DWORD, 4, ERROR_SUCCESS, 0x01020304, REG_DWORD},
      {key.get(), nullptr, L"Binary", RRF_RT_DWORD, 4, ERROR_DATATYPE_MISMATCH, kUnchanged, 0},
      {key.get(), nullptr, L"Binary4", RRF_RT_DWORD, 4, ERROR_SUCCESS, 1, REG_BINARY},
      {key.get(), nullptr, L"Text", RRF_RT_DWORD, 4, ERROR_UNSUPPORTED_TYPE, kUnchanged, 0},
      {key.get(), nullptr, L"Dword", RRF_RT_QWORD, 4, ERROR_UNSUPPORTED_TYPE, kUnchanged, 0},
      {key.get(), nullptr, L"Qword", RRF_RT_QWORD, 8, ERROR_SUCCESS, 0x0807060504030201, REG_QWORD},
      {key.get(), L"Missing", L"Dword", RRF_RT_DWORD | RRF_ZEROONFAILURE, 4, ERROR_FILE_NOT_FOUND, 0, 0},
      {key.get(), nullptr, L"Dword", 0, 4, ERROR_INVALID_PARAMETER, kUnchanged, 0},
  };
  const bool failuresWrite = deviates<TypeParam>("a failed getValue leaves the buffer");
  const bool noTypeFlag = deviates<TypeParam>("getValue without a type flag");
  for (const auto& row : rows) {
    SCOPED_TRACE(::testing::Message() << row.name << " flags " << row.flags);
    if (row.flags == 0 && noTypeFlag) continue;
    uint64_t value = kUnchanged;
    size = row.size;
    type = 0;
    EXPECT_EQ(r.getValue(row.key, row.subKey, row.name, row.flags, &type, &value, &size), row.expected);
    EXPECT_TRUE(value == row.value || (failuresWrite && row.expected != ERROR_SUCCESS)) << value;
    EXPECT_TRUE(row.expected != ERROR_SUCCESS || type == row.type) << type;
  }
  wchar_t text[8] = {};
  size = sizeof text;
  ASSERT_EQ(r.getValue(key.get(), nullptr, L"Unterminated", RRF_RT_REG_SZ, &type, text, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u) << "a string comes back terminated";
  ScopedKey noQuery(r);
  ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"Values", KEY_SET_VALUE, noQuery.out()), ERROR_SUCCESS);
  size = 4;
  EXPECT_EQ(r.getValue(noQuery.get(), nullptr, L"Dword", RRF_RT_DWORD, &type, text, &size), ERROR_ACCESS_DENIED);

  // Overwriting changes type and size.
  ASSERT_EQ(setBytes(r, key.get(), L"Dword", REG_SZ, stringBytes(L"now text")), ERROR_SUCCESS);
  ASSERT_EQ(readBytes(r, key.get(), L"DWORD", &bytes, &type), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(bytes, stringBytes(L"now text"));
}

// Names ignore case, Latin-1 letters too, and keep the spelling they were made
// with; enumeration lists them in that spelling, in folded order.
TYPED_TEST_P(RegistryContract, NamesIgnoreCaseAndEnumerateInFoldedOrder) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  ScopedKey key(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"Enum", KEY_ALL_ACCESS, key.out(), nullptr), ERROR_SUCCESS);
  for (const wchar_t* name : {L"\u00E4rger", L"b", L"A", L"c"}) {
    ASSERT_EQ(setBytes(r, key.get(), name, REG_DWORD, dwordBytes(static_cast<DWORD>(wcslen(name)))), ERROR_SUCCESS);
  }
  for (const wchar_t* name : {L"zeta", L"Alpha", L"beta"}) {
    ScopedKey child(r);
    ASSERT_EQ(r.createKey(key.get(), name, KEY_ALL_ACCESS, child.out(), nullptr), ERROR_SUCCESS);
  }
  ScopedKey upper(r);
  DWORD disposition = 0;
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"ENUM\\ALPHA", KEY_ALL_ACCESS, upper.out(), &disposition), ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  ScopedKey lower(r);
  ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"enum", KEY_ALL_ACCESS, lower.out()), ERROR_SUCCESS);
  ASSERT_EQ(setBytes(r, lower.get(), L"\u00C4RGER", REG_DWORD, dwordBytes(5)), ERROR_SUCCESS) << "an overwrite";
  std::vector<BYTE> bytes;
  EXPECT_EQ(readBytes(r, key.get(), L"a", &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, dwordBytes(1));
  for (int pass = 0; pass < 2; ++pass) {
    DWORD end = 0;
    EXPECT_EQ(allNames(r, key.get(), false, &end), (std::vector<std::wstring>{L"A", L"b", L"c", L"\u00E4rger"}));
    EXPECT_EQ(end, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(allNames(r, key.get(), true, &end), (std::vector<std::wstring>{L"Alpha", L"beta", L"zeta"}));
    EXPECT_EQ(end, ERROR_NO_MORE_ITEMS);
  }

  wchar_t name[8] = {};
  DWORD chars = 5;  // "Alpha" needs 6 with its terminator
  EXPECT_EQ(r.enumKey(key.get(), 0, name, &chars), ERROR_MORE_DATA);
  chars = 6;
  EXPECT_EQ(r.enumKey(key.get(), 0, name, &chars), ERROR_SUCCESS);
  EXPECT_EQ(chars, 5u);
  chars = 1;
  EXPECT_EQ(r.enumValue(key.get(), 0, name, &chars, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  chars = 8;
  DWORD type = 0;
  BYTE data[2];
  DWORD dataSize = sizeof data;
  EXPECT_EQ(r.enumValue(key.get(), 3, name, &chars, &type, data, &dataSize), ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 4u);
  BYTE full[4];
  chars = 8;
  dataSize = sizeof full;
  ASSERT_EQ(r.enumValue(key.get(), 3, name, &chars, &type, full, &dataSize), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name, chars), L"\u00E4rger");
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(std::vector<BYTE>(full, full + 4), dwordBytes(5));

  DWORD subKeys = 0;
  DWORD values = 0;
  ASSERT_EQ(r.queryInfoKey(key.get(), &subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 3u);
  EXPECT_EQ(values, 4u);
  EXPECT_EQ(r.queryInfoKey(key.get(), nullptr, nullptr), ERROR_SUCCESS);
}

TYPED_TEST_P(RegistryContract, DeleteValuesAndTrees) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  ScopedKey top(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"D", KEY_ALL_ACCESS, top.out(), nullptr), ERROR_SUCCESS);
  ASSERT_EQ(setBytes(r, top.get(), L"v", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
  EXPECT_EQ(r.deleteValue(top.get(), L"missing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r.deleteValue(top.get(), L"V"), ERROR_SUCCESS);
  std::vector<BYTE> bytes;
  EXPECT_EQ(readBytes(r, top.get(), L"v", &bytes), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(r.deleteValue(top.get(), L"v"), ERROR_FILE_NOT_FOUND);

  // Keys whose names sort right beside "A" must survive the removal of D\A.
  for (const wchar_t* path : {L"D\\A\\B\\C", L"D\\A\\Other", L"D\\AB", L"D\\A!", L"D\\A[", L"D\\A]x", L"D\\Keep"}) {
    ScopedKey key(r);
    ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, path, KEY_ALL_ACCESS, key.out(), nullptr), ERROR_SUCCESS) << path;
    ASSERT_EQ(setBytes(r, key.get(), L"here", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
  }
  ASSERT_EQ(setBytes(r, top.get(), L"top", REG_DWORD, dwordBytes(2)), ERROR_SUCCESS);
  EXPECT_EQ(r.deleteKeyValue(HKEY_CURRENT_USER, L"D\\Keep", L"HERE"), ERROR_SUCCESS);
  EXPECT_EQ(r.deleteKeyValue(HKEY_CURRENT_USER, L"D\\Nowhere", L"here"), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(r.deleteTree(HKEY_CURRENT_USER, L"d\\a"), ERROR_SUCCESS);
  HKEY probe = nullptr;
  for (const wchar_t* gone : {L"D\\A", L"D\\A\\B", L"D\\A\\B\\C", L"D\\A\\Other"}) {
    EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, gone, KEY_READ, &probe), ERROR_FILE_NOT_FOUND) << gone;
  }
  for (const wchar_t* kept : {L"D\\AB", L"D\\A!", L"D\\A[", L"D\\A]x", L"D\\Keep"}) {
    ScopedKey key(r);
    EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, kept, KEY_READ, key.out()), ERROR_SUCCESS) << kept;
  }
  EXPECT_EQ(r.deleteTree(HKEY_CURRENT_USER, L"D\\A"), ERROR_FILE_NOT_FOUND);

  // With no subkey: everything below the key goes, the key stays.
  ASSERT_EQ(r.deleteTree(top.get(), nullptr), ERROR_SUCCESS);
  DWORD subKeys = 1;
  DWORD values = 1;
  ASSERT_EQ(r.queryInfoKey(top.get(), &subKeys, &values), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 0u);
  ScopedKey still(r);
  EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, L"D", KEY_READ, still.out()), ERROR_SUCCESS);
  EXPECT_EQ(setBytes(r, top.get(), L"again", REG_DWORD, dwordBytes(3)), ERROR_SUCCESS) << "the handle still works";
}

TYPED_TEST_P(RegistryContract, HandlesToDeletedKeysStayDeleted) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  ScopedKey sub(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"K\\Sub", KEY_ALL_ACCESS, sub.out(), nullptr), ERROR_SUCCESS);
  ASSERT_EQ(setBytes(r, sub.get(), L"v", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
  ScopedKey deeper(r);
  ASSERT_EQ(r.createKey(sub.get(), L"Deeper", KEY_ALL_ACCESS, deeper.out(), nullptr), ERROR_SUCCESS);
  HKEY raw = nullptr;
  ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"K", KEY_READ, &raw), ERROR_SUCCESS);
  ASSERT_EQ(r.deleteTree(HKEY_CURRENT_USER, L"K"), ERROR_SUCCESS);

  auto expectDeleted = [&r](HKEY handle) {
    std::vector<BYTE> bytes;
    EXPECT_EQ(readBytes(r, handle, L"v", &bytes), ERROR_KEY_DELETED);
    EXPECT_EQ(setBytes(r, handle, L"v", REG_DWORD, dwordBytes(2)), ERROR_KEY_DELETED);
    EXPECT_EQ(r.deleteValue(handle, L"v"), ERROR_KEY_DELETED);
    wchar_t name[8];
    DWORD chars = 8;
    EXPECT_EQ(r.enumValue(handle, 0, name, &chars, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    chars = 8;
    EXPECT_EQ(r.enumKey(handle, 0, name, &chars), ERROR_KEY_DELETED);
    EXPECT_EQ(r.queryInfoKey(handle, nullptr, nullptr), ERROR_KEY_DELETED);
    HKEY child = nullptr;
    EXPECT_EQ(r.openKey(handle, nullptr, KEY_READ, &child), ERROR_KEY_DELETED);
    EXPECT_EQ(r.openKey(handle, L"Deeper", KEY_READ, &child), ERROR_KEY_DELETED);
    EXPECT_EQ(r.createKey(handle, L"New", KEY_ALL_ACCESS, &child, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(r.deleteTree(handle, nullptr), ERROR_KEY_DELETED);
  };
  expectDeleted(sub.get());
  expectDeleted(deeper.get());

  // The same path made again is another key.
  ScopedKey remade(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"K\\Sub\\Deeper", KEY_ALL_ACCESS, remade.out(), nullptr), ERROR_SUCCESS);
  expectDeleted(sub.get());
  expectDeleted(deeper.get());
  EXPECT_EQ(setBytes(r, remade.get(), L"v", REG_DWORD, dwordBytes(3)), ERROR_SUCCESS);
  EXPECT_EQ(r.closeKey(raw), ERROR_SUCCESS) << "a deleted key's handle still closes";
}

TYPED_TEST_P(RegistryContract, HandlesAllowOnlyTheAccessTheyWereOpenedWith) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  {
    ScopedKey key(r);
    ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"M\\Child", KEY_ALL_ACCESS, key.out(), nullptr), ERROR_SUCCESS);
  }
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"M", KEY_ALL_ACCESS, nullptr, nullptr), ERROR_INVALID_PARAMETER);
  ASSERT_EQ(setBytes(r, HKEY_CURRENT_USER, L"RootValue", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS)
      << "the predefined roots have all access";
  {
    ScopedKey root(r);
    ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"M", KEY_ALL_ACCESS, root.out()), ERROR_SUCCESS);
    ASSERT_EQ(setBytes(r, root.get(), L"v", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
  }
  const struct {
    REGSAM access;
    bool query, set, enumerate;
  } rows[] = {{KEY_SET_VALUE, false, true, false},
              {KEY_QUERY_VALUE, true, false, false},
              {KEY_ENUMERATE_SUB_KEYS, false, false, true},
              {KEY_READ, true, false, true},
              {KEY_WRITE, false, true, false}};
  const DWORD ok = ERROR_SUCCESS;
  const DWORD denied = ERROR_ACCESS_DENIED;
  DWORD stored = 1;
  for (DWORD i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(rows[i].access);
    ScopedKey key(r);
    ASSERT_EQ(r.openKey(HKEY_CURRENT_USER, L"M", rows[i].access, key.out()), ok);
    std::vector<BYTE> bytes;
    EXPECT_EQ(readBytes(r, key.get(), L"v", &bytes), rows[i].query ? ok : denied);
    EXPECT_TRUE(!rows[i].query || bytes == dwordBytes(stored)) << "the refused writes changed nothing";
    wchar_t name[16];
    DWORD chars = 16;
    EXPECT_EQ(r.enumValue(key.get(), 0, name, &chars, nullptr, nullptr, nullptr), rows[i].query ? ok : denied);
    chars = 16;
    EXPECT_EQ(r.enumKey(key.get(), 0, name, &chars), rows[i].enumerate ? ok : denied);
    EXPECT_EQ(setBytes(r, key.get(), L"v", REG_DWORD, dwordBytes(10 + i)), rows[i].set ? ok : denied);
    if (rows[i].set) stored = 10 + i;
    EXPECT_TRUE(rows[i].set || r.deleteValue(key.get(), L"v") == denied);
  }
}

TYPED_TEST_P(RegistryContract, ReadOnlyMachineRootReadsButRefusesWrites) {
  using namespace registry_contract;
  auto registry = this->factory_.makeReadOnlyMachine();
  if (registry == nullptr) GTEST_SKIP() << "this registry cannot make a read-only machine root";
  RegistryPort& r = *registry;
  HKEY key = nullptr;
  EXPECT_EQ(r.createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_READ, &key, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(setBytes(r, HKEY_LOCAL_MACHINE, L"x", REG_DWORD, dwordBytes(1)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.deleteValue(HKEY_LOCAL_MACHINE, L"x"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.deleteTree(HKEY_LOCAL_MACHINE, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.openKey(HKEY_LOCAL_MACHINE, L"Software", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  std::vector<BYTE> bytes;
  EXPECT_EQ(readBytes(r, HKEY_LOCAL_MACHINE, L"x", &bytes), ERROR_FILE_NOT_FOUND);
  DWORD error = 0;
  EXPECT_TRUE(allNames(r, HKEY_LOCAL_MACHINE, true, &error).empty());
  EXPECT_EQ(error, ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(r.openKey(HKEY_LOCAL_MACHINE, nullptr, KEY_WRITE, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(r.createKey(HKEY_LOCAL_MACHINE, nullptr, KEY_WRITE, &key, nullptr), ERROR_ACCESS_DENIED);
  {
    ScopedKey root(r);
    EXPECT_EQ(r.openKey(HKEY_LOCAL_MACHINE, nullptr, KEY_READ, root.out()), ERROR_SUCCESS);
  }
  EXPECT_EQ(setBytes(r, HKEY_CURRENT_USER, L"x", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS)
      << "the user root stays writable";
  EXPECT_EQ(registry->openHandles(), 0u);
}

TYPED_TEST_P(RegistryContract, HandlesWorkFromSeveralThreads) {
  using namespace registry_contract;
  RegistryPort& r = this->reg();
  ScopedKey shared(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, L"Threads", KEY_ALL_ACCESS, shared.out(), nullptr), ERROR_SUCCESS);
  constexpr int kThreads = 4;
  constexpr int kWrites = 10;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&r, &shared, &failures, t] {
      const std::wstring name = L"thread" + std::to_wstring(t);
      for (int i = 0; i < kWrites; ++i) {
        if (setBytes(r, shared.get(), name.c_str(), REG_DWORD, dwordBytes(static_cast<DWORD>(i))) != ERROR_SUCCESS) {
          ++failures;
        }
        for (int k = 0; k < 4; ++k) {
          ScopedKey own(r);
          std::vector<BYTE> bytes;
          if (r.openKey(HKEY_CURRENT_USER, L"threads", KEY_READ, own.out()) != ERROR_SUCCESS ||
              readBytes(r, own.get(), name.c_str(), &bytes) != ERROR_SUCCESS || bytes != dwordBytes(i)) {
            ++failures;
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  DWORD values = 0;
  ASSERT_EQ(r.queryInfoKey(shared.get(), nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kThreads));
}

TYPED_TEST_P(RegistryContract, NamesAndDepthStayWithinTheRegistrysLimits) {
  using namespace registry_contract;
  if (deviates<TypeParam>("name and depth limits")) GTEST_SKIP();
  RegistryPort& r = this->reg();
  // Key names: 255 UTF-16 code units; a character outside the BMP counts two.
  const std::wstring longest(255, L'k');
  const std::wstring tooLong(256, L'k');
  std::wstring wideTooLong = L"kk";  // 2 + 127 x 2 = 256 units
  for (int i = 0; i < 127; ++i) wideTooLong += L"\U0001F600";
  ScopedKey key(r);
  EXPECT_EQ(r.createKey(HKEY_CURRENT_USER, (L"Limits\\" + longest).c_str(), KEY_ALL_ACCESS, key.out(), nullptr),
            ERROR_SUCCESS);
  for (const std::wstring& name : {tooLong, wideTooLong}) {
    HKEY refused = nullptr;
    EXPECT_EQ(r.createKey(HKEY_CURRENT_USER, (L"Limits\\New\\" + name).c_str(), KEY_ALL_ACCESS, &refused, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(r.openKey(HKEY_CURRENT_USER, L"Limits\\New", KEY_READ, &refused), ERROR_FILE_NOT_FOUND)
        << "a refused path creates none of its parents";
  }
  // Value names: 16,383 code units.
  const std::wstring longestValue(16383, L'v');
  const std::wstring tooLongValue(16384, L'v');
  EXPECT_EQ(setBytes(r, key.get(), longestValue.c_str(), REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
  EXPECT_EQ(setBytes(r, key.get(), tooLongValue.c_str(), REG_DWORD, dwordBytes(2)), ERROR_INVALID_PARAMETER);
  DWORD values = 0;
  ASSERT_EQ(r.queryInfoKey(key.get(), nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 1u);

  // Depth: 512 levels below the root, counted from the root whatever the
  // handle.
  std::wstring deep = L"D";
  for (int level = 2; level <= 500; ++level) deep += L"\\D";
  ScopedKey at500(r);
  ASSERT_EQ(r.createKey(HKEY_CURRENT_USER, deep.c_str(), KEY_ALL_ACCESS, at500.out(), nullptr), ERROR_SUCCESS);
  HKEY refused = nullptr;
  EXPECT_EQ(r.createKey(at500.get(), L"1\\2\\3\\4\\5\\6\\7\\8\\9\\10\\11\\12\\13", KEY_ALL_ACCESS, &refused, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(r.createKey(HKEY_CURRENT_USER, (deep + L"\\1\\2\\3\\4\\5\\6\\7\\8\\9\\10\\11\\12\\13").c_str(),
                        KEY_ALL_ACCESS, &refused, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(r.openKey(at500.get(), L"1", KEY_READ, &refused), ERROR_FILE_NOT_FOUND);
  ScopedKey at512(r);
  EXPECT_EQ(r.createKey(at500.get(), L"1\\2\\3\\4\\5\\6\\7\\8\\9\\10\\11\\12", KEY_ALL_ACCESS, at512.out(), nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(r.createKey(at512.get(), L"13", KEY_ALL_ACCESS, &refused, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(r.deleteTree(HKEY_CURRENT_USER, L"D"), ERROR_SUCCESS);
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, CreateOpenAndClose, ValuesKeepTypeAndBytesAndReportSizes,
                            NamesIgnoreCaseAndEnumerateInFoldedOrder, DeleteValuesAndTrees,
                            HandlesToDeletedKeysStayDeleted, HandlesAllowOnlyTheAccessTheyWereOpenedWith,
                            ReadOnlyMachineRootReadsButRefusesWrites, HandlesWorkFromSeveralThreads,
                            NamesAndDepthStayWithinTheRegistrysLimits);
