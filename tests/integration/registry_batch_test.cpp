// Batches of changes on the real store: one transaction, all or nothing. A
// failure half-way (a full disk injected through the SQLite seam, a change the
// store refuses) leaves the file byte for byte as it was.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/registry_test_support.h"
#include "port/linux/registry_sqlite.h"

namespace {

using registry_test::readDwordAt;
using registry_test::readFile;
using utils::linuxport::RegistryStore;
using utils::port::RegistryChange;
using Kind = utils::port::RegistryChange::Kind;
namespace sqlite = utils::linuxport::sqlite;

// A batch shaped like an import: keys, each with values.
struct Batch {
  std::vector<std::wstring> keys;
  std::vector<std::wstring> names;
  BYTE data[4] = {7, 0, 0, 0};
  std::vector<RegistryChange> changes;

  explicit Batch(int keyCount) {
    for (int k = 0; k < keyCount; ++k) keys.push_back(L"Software\\Batch\\Key" + std::to_wstring(k));
    for (int v = 0; v < 3; ++v) names.push_back(L"Value" + std::to_wstring(v));
    for (const auto& key : keys) {
      changes.push_back({Kind::CreateKey, key.c_str()});
      for (const auto& name : names) changes.push_back({Kind::SetValue, key.c_str(), name.c_str(), REG_DWORD, data, 4});
    }
  }
};

using RegistryBatch = registry_test::ScratchStore;

TEST_F(RegistryBatch, ABatchGoesInWholeOrNotAtAll) {
  auto owned = open();
  RegistryStore& store = *owned;
  // As the first call on a new store: deleting what is absent succeeds, and a
  // tree goes whole, also within a batch.
  BYTE one[4] = {1, 0, 0, 0};
  const std::vector<RegistryChange> changes = {
      {Kind::DeleteTree, L"Nothing\\Here"},
      {Kind::DeleteValue, L"Nothing", L"x"},
      {Kind::SetValue, L"A\\B\\C", L"v", REG_DWORD, one, 4},
      {Kind::SetValue, L"A\\B", nullptr, REG_DWORD, one, 4},
      {Kind::DeleteValue, L"A\\B\\C", L"absent"},
      {Kind::DeleteTree, L"a\\b"},
      {Kind::SetValue, L"A\\B\\D", L"v", REG_DWORD, one, 4},  // after the tree went, made again
      {Kind::CreateKey, L"A\\E"},
  };
  size_t failed = 99;
  ASSERT_EQ(store.applyChanges(HKEY_CURRENT_USER, changes.data(), changes.size(), &failed), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"A\\B\\C", L"v", &value), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"A\\B\\D", L"v", &value), ERROR_SUCCESS);
  EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"A\\B", nullptr, &value), ERROR_FILE_NOT_FOUND);
  HKEY key = nullptr;
  ASSERT_EQ(store.openKey(HKEY_CURRENT_USER, L"A\\E", KEY_READ, &key), ERROR_SUCCESS);
  store.closeKey(key);
  ASSERT_EQ(registry_test::setDword(store, HKEY_CURRENT_USER, L"Before", 1), ERROR_SUCCESS);
  Batch batch(400);
  const std::string before = readFile(user());

  struct Failure {
    const char* what;
    sqlite::Call call;
    int code;
    int skip;
    DWORD expected;
  };
  const Failure failures[] = {
      {"disk full on the 700th statement", sqlite::Call::Step, sqlite::kFull, 700, ERROR_DISK_FULL},
      {"I/O error on the first statement", sqlite::Call::Step, sqlite::kIoErr, 0, ERROR_REGISTRY_IO_FAILED},
  };
  for (const Failure& failure : failures) {
    SCOPED_TRACE(failure.what);
    sqlite::injectFault(failure.call, failure.code, 1, failure.skip);
    EXPECT_EQ(store.applyChanges(HKEY_CURRENT_USER, batch.changes.data(), batch.changes.size(), &failed),
              failure.expected);
    EXPECT_EQ(sqlite::injectedFailures(), 1);
    sqlite::clearFaults();
    EXPECT_LT(failed, batch.changes.size());
    EXPECT_EQ(readFile(user()), before);
    EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"Software\\Batch\\Key0", L"Value0", &value), ERROR_FILE_NOT_FOUND);
  }

  // A change the store refuses, after hundreds it accepted.
  std::vector<RegistryChange> refused = batch.changes;
  const std::wstring tooLong(16384, L'v');
  refused.insert(refused.begin() + 900,
                 {Kind::SetValue, L"Software\\Batch\\Key0", tooLong.c_str(), REG_DWORD, batch.data, 4});
  EXPECT_EQ(store.applyChanges(HKEY_CURRENT_USER, refused.data(), refused.size(), &failed), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(failed, 900u);
  EXPECT_EQ(readFile(user()), before);

  // And then the whole batch goes in, in one transaction.
  ASSERT_EQ(store.applyChanges(HKEY_CURRENT_USER, batch.changes.data(), batch.changes.size(), &failed), ERROR_SUCCESS);
  EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"Software\\Batch\\Key399", L"Value2", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);

  std::string report;
  EXPECT_EQ(store.checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS) << report;
}

}  // namespace
