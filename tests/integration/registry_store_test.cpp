// The SQLite registry store: the registry contract on real files, and what only
// the store has (files and folders, sharing between stores and processes, SQLite
// failures, batches applied whole or not at all, SQLite's locks).
#include "port/linux/registry_store.h"

#include <chrono>
#include <optional>
#include <utility>

#include "integration/child_process.h"
#include "integration/registry_test_support.h"
#include "port/linux/registry_file.h"
#include "port/linux/registry_paths.h"
#include "port/linux/registry_sqlite.h"
#include "unit/registry_contract.h"

namespace registry_test {
namespace {

using utils::port::RegistryChange;
using Kind = utils::port::RegistryChange::Kind;

struct StoreFactory {
  using Registry = RegistryStore;
  TempFolder folder;

  std::unique_ptr<RegistryStore> make() {
    return std::make_unique<RegistryStore>(folder.file("machine.db"), folder.file("user.db"));
  }
  // The machine file's folder would have to be below a plain file: it can never
  // be made, whoever runs the test.
  std::unique_ptr<RegistryStore> makeReadOnlyMachine() {
    if (!registry_test::writeFile(folder.file("plain"), "x")) return nullptr;
    return std::make_unique<RegistryStore>(folder.file("plain/machine.db"), folder.file("other-user.db"));
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Store, RegistryContract, ::testing::Types<StoreFactory>);

using RegistryStoreTest = registry_test::ScratchStore;

// The files' modes are checked under several umasks in registry_processes_test.
TEST_F(RegistryStoreTest, ValuesOfBothFilesOutliveTheStoreAndNoJournalStays) {
  {
    auto store = open();
    ASSERT_EQ(setDword(*store, HKEY_LOCAL_MACHINE, L"m", 1), ERROR_SUCCESS);
    ASSERT_EQ(setDword(*store, HKEY_CURRENT_USER, L"u", 2), ERROR_SUCCESS);
  }
  EXPECT_FALSE(std::filesystem::exists(user() + "-journal")) << "no journal left when idle";
  auto reopened = open();
  DWORD value = 0;
  EXPECT_EQ(getDword(*reopened, HKEY_LOCAL_MACHINE, L"M", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(getDword(*reopened, HKEY_CURRENT_USER, L"U", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  std::string report;
  EXPECT_EQ(reopened->checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS);
  EXPECT_EQ(report, "ok");
  EXPECT_EQ(reopened->checkIntegrity(HKEY_CLASSES_ROOT, &report), ERROR_INVALID_HANDLE);
}

// What the simulation never holds: letters beyond Latin-1, a value of a
// megabyte (from SQLite, then from the cache), and a tree of the
// longest names 500 levels deep, whose file grows with the names it holds (the
// first layout stored about 25 MB of paths three times over).
TEST_F(RegistryStoreTest, WideLettersBigValuesAndDeepTreesRoundTrip) {
  auto store = open();
  ScopedKey key(*store);
  ASSERT_EQ(store->createKey(HKEY_CURRENT_USER, L"\u041A\u043B\u044E\u0447\\\u03B1\u03B2", KEY_ALL_ACCESS, key.out(),
                             nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(setDword(*store, key.get(), L"\u0161koda", 3), ERROR_SUCCESS);
  DWORD value = 0;
  EXPECT_EQ(readDwordAt(*store, HKEY_CURRENT_USER, L"\u041A\u041B\u042E\u0427\\\u0391\u0392", L"\u0160KODA", &value),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 3u);
  wchar_t name[16];
  DWORD chars = 16;
  ASSERT_EQ(store->enumKey(HKEY_CURRENT_USER, 0, name, &chars), ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(name, chars), L"\u041A\u043B\u044E\u0447") << "kept as spelled";

  std::vector<BYTE> big(1 << 20);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<BYTE>(i * 7);
  ASSERT_EQ(store->setValue(HKEY_CURRENT_USER, L"big", REG_BINARY, big.data(), static_cast<DWORD>(big.size())),
            ERROR_SUCCESS);
  std::vector<BYTE> read(big.size());
  DWORD size = static_cast<DWORD>(read.size());
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(store->queryValue(HKEY_CURRENT_USER, L"BIG", nullptr, read.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(read, big);
  }
  DWORD subKeys = 0;
  ASSERT_EQ(store->deleteTree(HKEY_CURRENT_USER, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(store->queryInfoKey(HKEY_CURRENT_USER, &subKeys, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subKeys, 0u);

  const auto emptySize = std::filesystem::file_size(user());
  const std::wstring longName(200, L'n');
  std::wstring path = longName;
  for (int level = 1; level < 500; ++level) path += L"\\" + longName;
  ScopedKey deep(*store);
  ASSERT_EQ(store->createKey(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS, deep.out(), nullptr), ERROR_SUCCESS);
  EXPECT_LT(std::filesystem::file_size(user()), emptySize + 4 * 500 * 200 + 64 * 1024);
  ASSERT_EQ(store->queryInfoKey(deep.get(), &subKeys, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(store->deleteTree(HKEY_CURRENT_USER, longName.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(store->queryInfoKey(deep.get(), &subKeys, nullptr), ERROR_KEY_DELETED);
}

// Stores on one file share every write at once; a warm reader answers from its
// cache and must still see every commit made by another process, deletions too.
TEST_F(RegistryStoreTest, OtherStoresAndProcessesSeeEveryCommitAtOnce) {
  auto store = open();
  auto second = open();
  ASSERT_EQ(setDword(*store, HKEY_CURRENT_USER, L"shared", 1), ERROR_SUCCESS);
  DWORD value = 0;
  ASSERT_EQ(getDword(*second, HKEY_CURRENT_USER, L"shared", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 1u);
  ASSERT_EQ(setDword(*second, HKEY_CURRENT_USER, L"shared", 2), ERROR_SUCCESS);
  ASSERT_EQ(getDword(*store, HKEY_CURRENT_USER, L"shared", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  HKEY foreign = nullptr;
  ASSERT_EQ(store->openKey(HKEY_CURRENT_USER, nullptr, KEY_READ, &foreign), ERROR_SUCCESS);
  EXPECT_EQ(second->queryValue(foreign, L"shared", nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE)
      << "handles belong to the store that gave them";
  EXPECT_EQ(store->closeKey(foreign), ERROR_SUCCESS);

  ScopedKey key(*store);
  ASSERT_EQ(store->createKey(HKEY_CURRENT_USER, L"Software\\vorlane", KEY_ALL_ACCESS, key.out(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(setDword(*store, key.get(), L"LogDebug", 1), ERROR_SUCCESS);
  for (DWORD round = 2; round < 6; ++round) {
    ASSERT_EQ(readDwordAt(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"LogDebug", &value), ERROR_SUCCESS);
    ASSERT_EQ(readDwordAt(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"Missing", &value), ERROR_FILE_NOT_FOUND);
    const auto writer = utils::testing::runChild([&] {
      RegistryStore other(machine(), user());
      ScopedKey child(other);
      const bool wrote = setDword(other, HKEY_CURRENT_USER, L"Missing", round) == ERROR_SUCCESS &&
                         other.openKey(HKEY_CURRENT_USER, L"Software\\vorlane", KEY_SET_VALUE, child.out()) == 0 &&
                         setDword(other, child.get(), L"LogDebug", round) == ERROR_SUCCESS;
      return wrote ? 0 : 1;
    });
    ASSERT_EQ(writer.code, 0) << "signal " << writer.signal;
    ASSERT_EQ(readDwordAt(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"LogDebug", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, round);
    ASSERT_EQ(getDword(*store, HKEY_CURRENT_USER, L"Missing", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, round);
    ASSERT_EQ(store->deleteValue(HKEY_CURRENT_USER, L"Missing"), ERROR_SUCCESS);
  }
  ASSERT_EQ(utils::testing::runChild([&] {
              return RegistryStore(machine(), user()).deleteTree(HKEY_CURRENT_USER, L"Software") == 0 ? 0 : 1;
            }).code,
            0);
  EXPECT_EQ(getDword(*store, key.get(), L"LogDebug", &value), ERROR_KEY_DELETED);
  EXPECT_EQ(readDwordAt(*store, HKEY_CURRENT_USER, L"Software\\vorlane", L"LogDebug", &value), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryStoreTest, PathsComeFromTheEnvironment) {
  const char* const names[] = {"UTILS_REGISTRY_MACHINE", "UTILS_REGISTRY_USER", "XDG_CONFIG_HOME", "HOME"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
  for (const char* name : names) {
    const char* value = std::getenv(name);
    saved.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    ::unsetenv(name);
  }
  ::setenv("HOME", "/home/someone", 1);
  const std::string env = folder_.file("env");
  const struct {
    const char* variable;  // set before the row; null: none
    std::string value, machine, user;
  } rows[] = {
      {nullptr, "", "/var/lib/utils/registry/machine.db", "/home/someone/.config/utils/registry.db"},
      {"XDG_CONFIG_HOME", "relative/ignored", "/var/lib/utils/registry/machine.db",
       "/home/someone/.config/utils/registry.db"},
      {"XDG_CONFIG_HOME", "/xdg", "/var/lib/utils/registry/machine.db", "/xdg/utils/registry.db"},
      {"UTILS_REGISTRY_MACHINE", env + "-machine.db", env + "-machine.db", "/xdg/utils/registry.db"},
      {"UTILS_REGISTRY_USER", env + "-user.db", env + "-machine.db", env + "-user.db"},
  };
  for (const auto& row : rows) {
    if (row.variable != nullptr) ::setenv(row.variable, row.value.c_str(), 1);
    const auto paths = utils::linuxport::registryPathsFromEnvironment();
    EXPECT_EQ(paths.machine, row.machine) << row.value;
    EXPECT_EQ(paths.user, row.user) << row.value;
  }
  EXPECT_EQ(setDword(*RegistryStore::fromEnvironment(), HKEY_LOCAL_MACHINE, L"x", 1), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::exists(env + "-machine.db"));
  for (const auto& [name, value] : saved) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
}

// Every SQLite failure comes back as a Win32 code, a failed write changes
// nothing, and the store works again once the fault is gone.
TEST_F(RegistryStoreTest, SqliteFailuresMapToWin32CodesAndLeaveNoTrace) {
  auto store = open();
  ASSERT_EQ(setDword(*store, HKEY_CURRENT_USER, L"v", 1), ERROR_SUCCESS);
  const struct {
    int code;
    DWORD expected;
  } cases[] = {
      {sqlite::kBusy, ERROR_BUSY},
      {sqlite::kLocked, ERROR_LOCK_FAILED},
      {sqlite::kIoErr | (15 << 8), ERROR_LOCK_FAILED},  // SQLITE_IOERR_LOCK
      {sqlite::kFull, ERROR_DISK_FULL},
      {sqlite::kIoErr, ERROR_REGISTRY_IO_FAILED},
      {sqlite::kReadOnly, ERROR_ACCESS_DENIED},
      {sqlite::kNoMem, ERROR_NOT_ENOUGH_MEMORY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    sqlite::injectFault(sqlite::Call::Step, c.code, 0);
    EXPECT_EQ(setDword(*store, HKEY_CURRENT_USER, L"v", 99), c.expected);
    EXPECT_EQ(store->deleteValue(HKEY_CURRENT_USER, L"v"), c.expected);
    HKEY key = nullptr;
    EXPECT_EQ(store->createKey(HKEY_CURRENT_USER, L"New", KEY_ALL_ACCESS, &key, nullptr), c.expected);
    DWORD value = 0;
    EXPECT_EQ(getDword(*store, HKEY_CURRENT_USER, L"NotCached", &value), c.expected);
    EXPECT_GT(sqlite::injectedFailures(), 0);
    sqlite::clearFaults();
    ASSERT_EQ(getDword(*store, HKEY_CURRENT_USER, L"v", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(store->openKey(HKEY_CURRENT_USER, L"New", KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  }
  {
    // Damage reported by SQLite lasts: this process writes nothing more to the
    // file, even once the fault is gone; a new process looks again.
    sqlite::injectFault(sqlite::Call::Step, sqlite::kCorrupt, 1);
    DWORD value = 0;
    EXPECT_EQ(getDword(*store, HKEY_CURRENT_USER, L"NotCached", &value), ERROR_REGISTRY_CORRUPT);
    sqlite::clearFaults();
    EXPECT_EQ(setDword(*store, HKEY_CURRENT_USER, L"v", 99), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(getDword(*store, HKEY_CURRENT_USER, L"v", &value), ERROR_REGISTRY_CORRUPT);
    store.reset();  // the last user of the file lets it go
    store = open();
    ASSERT_EQ(getDword(*store, HKEY_CURRENT_USER, L"v", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
  }

  // A failure at any step of a three-level create leaves none of it behind.
  int failedAt = 0;
  for (int skip = 0; skip < 12; ++skip) {
    SCOPED_TRACE(skip);
    const std::wstring path = L"Deep" + std::to_wstring(skip) + L"\\a\\b";
    sqlite::injectFault(sqlite::Call::Step, sqlite::kFull, 1, skip);
    HKEY key = nullptr;
    const DWORD error = store->createKey(HKEY_CURRENT_USER, path.c_str(), KEY_ALL_ACCESS, &key, nullptr);
    const bool injected = sqlite::injectedFailures() > 0;
    sqlite::clearFaults();
    ScopedKey top(*store);
    const DWORD topError =
        store->openKey(HKEY_CURRENT_USER, (L"Deep" + std::to_wstring(skip)).c_str(), KEY_READ, top.out());
    if (error == ERROR_SUCCESS) {
      EXPECT_FALSE(injected);
      EXPECT_EQ(topError, ERROR_SUCCESS);
      store->closeKey(key);
    } else {
      ++failedAt;
      EXPECT_EQ(error, ERROR_DISK_FULL);
      EXPECT_EQ(topError, ERROR_FILE_NOT_FOUND);
    }
  }
  EXPECT_GE(failedAt, 5) << "the create has that many steps";
  std::string report;
  EXPECT_EQ(store->checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS) << report;
}

TEST_F(RegistryStoreTest, FailedOpensAreRetriedUnlessTheFileIsBad) {
  sqlite::injectFault(sqlite::Call::Open, sqlite::kIoErr, 1);
  auto store = open();
  DWORD value = 0;
  EXPECT_EQ(getDword(*store, HKEY_CURRENT_USER, L"v", &value), ERROR_REGISTRY_IO_FAILED);
  EXPECT_EQ(setDword(*store, HKEY_CURRENT_USER, L"v", 4), ERROR_SUCCESS) << "a passing failure is not remembered";
  sqlite::injectFault(sqlite::Call::Prepare, sqlite::kNoMem, 1);
  auto other = std::make_unique<RegistryStore>(folder_.file("other/m.db"), folder_.file("other/u.db"));
  EXPECT_EQ(getDword(*other, HKEY_CURRENT_USER, L"v", &value), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(getDword(*other, HKEY_CURRENT_USER, L"v", &value), ERROR_FILE_NOT_FOUND);
}

// A batch is one transaction: a failure half-way (a full disk through the SQLite
// seam, a change the store refuses) leaves the file byte for byte as it was.
TEST_F(RegistryStoreTest, ABatchGoesInWholeOrNotAtAll) {
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
  ScopedKey made(store);
  ASSERT_EQ(store.openKey(HKEY_CURRENT_USER, L"A\\E", KEY_READ, made.out()), ERROR_SUCCESS);
  ASSERT_EQ(setDword(store, HKEY_CURRENT_USER, L"Before", 1), ERROR_SUCCESS);

  // Shaped like an import: 400 keys of three values each.
  std::vector<std::wstring> keys;
  for (int k = 0; k < 400; ++k) keys.push_back(L"Software\\Batch\\Key" + std::to_wstring(k));
  BYTE seven[4] = {7, 0, 0, 0};
  std::vector<RegistryChange> batch;
  for (const auto& key : keys) {
    batch.push_back({Kind::CreateKey, key.c_str()});
    for (const wchar_t* name : {L"Value0", L"Value1", L"Value2"}) {
      batch.push_back({Kind::SetValue, key.c_str(), name, REG_DWORD, seven, 4});
    }
  }
  const std::string before = readFile(user());
  const struct {
    const char* what;
    int code, skip;
    DWORD expected;
  } failures[] = {
      {"disk full on the 700th statement", sqlite::kFull, 700, ERROR_DISK_FULL},
      {"I/O error on the first statement", sqlite::kIoErr, 0, ERROR_REGISTRY_IO_FAILED},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.what);
    sqlite::injectFault(sqlite::Call::Step, failure.code, 1, failure.skip);
    EXPECT_EQ(store.applyChanges(HKEY_CURRENT_USER, batch.data(), batch.size(), &failed), failure.expected);
    EXPECT_EQ(sqlite::injectedFailures(), 1);
    sqlite::clearFaults();
    EXPECT_LT(failed, batch.size());
    EXPECT_EQ(readFile(user()), before);
    EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"Software\\Batch\\Key0", L"Value0", &value), ERROR_FILE_NOT_FOUND);
  }
  // A change the store refuses, after hundreds it accepted.
  std::vector<RegistryChange> refused = batch;
  const std::wstring tooLong(16384, L'v');
  refused.insert(refused.begin() + 900,
                 {Kind::SetValue, L"Software\\Batch\\Key0", tooLong.c_str(), REG_DWORD, seven, 4});
  EXPECT_EQ(store.applyChanges(HKEY_CURRENT_USER, refused.data(), refused.size(), &failed), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(failed, 900u);
  EXPECT_EQ(readFile(user()), before);

  ASSERT_EQ(store.applyChanges(HKEY_CURRENT_USER, batch.data(), batch.size(), &failed), ERROR_SUCCESS);
  EXPECT_EQ(readDwordAt(store, HKEY_CURRENT_USER, L"Software\\Batch\\Key399", L"Value2", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
  std::string report;
  EXPECT_EQ(store.checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS) << report;
}

// The machine-wide file may be read by every local user: a reader that keeps its
// shared lock (as an open sqlite3 shell would) delays every write, which gives up
// after the busy timeout with ERROR_BUSY and changes nothing.
TEST_F(RegistryStoreTest, AReaderHoldingItsLockMakesMachineWritesFailBusy) {
  ASSERT_EQ(setDword(*open(), HKEY_LOCAL_MACHINE, L"LogDebug", 1), ERROR_SUCCESS);
  sqlite::Connection connection;
  registry_test::PausedChild reader(
      [&] {
        return connection.open(machine(), false) == sqlite::kOk &&
                       connection.exec("BEGIN; SELECT count(*) FROM registry_values;") == sqlite::kOk
                   ? 0
                   : 11;
      },
      [&] { return connection.exec("COMMIT") == sqlite::kOk ? 0 : 12; });
  ASSERT_TRUE(reader.waitReady());
  const std::string before = readFile(machine());
  auto store = open();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(setDword(*store, HKEY_LOCAL_MACHINE, L"LogDebug", 2), DWORD{ERROR_BUSY});
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(sqlite::Connection::kBusyTimeoutMs));
  EXPECT_EQ(readFile(machine()), before) << "the refused write changed nothing";
  DWORD value = 0;
  EXPECT_EQ(readDwordAt(*store, HKEY_LOCAL_MACHINE, nullptr, L"LogDebug", &value), ERROR_SUCCESS)
      << "readers go on while the lock is shared";
  EXPECT_EQ(value, 1u);
  const int status = reader.finish();
  EXPECT_TRUE(registry_test::exitedWith(status, 0)) << "reader status " << status;
  EXPECT_EQ(setDword(*store, HKEY_LOCAL_MACHINE, L"LogDebug", 2), ERROR_SUCCESS) << "once the reader let go";
  EXPECT_EQ(readDwordAt(*store, HKEY_LOCAL_MACHINE, nullptr, L"LogDebug", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
}

// A store that finds its file without tables waits for the write lock to make
// them; when another connection made them meanwhile, it must use those (making
// them again would fail) and go on.
TEST_F(RegistryStoreTest, TablesMadeByAnotherOpenerWhileWaitingAreUsed) {
  using utils::linuxport::RegistryFile;
  RegistryFile other(user(), RegistryFile::Kind::User);
  DWORD otherOpened = ERROR_INVALID_FUNCTION;
  sqlite::beforeNextExec("BEGIN IMMEDIATE", [&] { otherOpened = other.checkWritable(); });
  auto store = open();
  ASSERT_EQ(setDword(*store, HKEY_CURRENT_USER, L"Written", 7), ERROR_SUCCESS);
  EXPECT_EQ(otherOpened, DWORD{ERROR_SUCCESS}) << "the other opener made the tables while the store waited";
  DWORD value = 0;
  EXPECT_EQ(readDwordAt(*store, HKEY_CURRENT_USER, nullptr, L"Written", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 7u);
}

}  // namespace
}  // namespace registry_test
