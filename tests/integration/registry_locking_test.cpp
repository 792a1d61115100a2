// What SQLite's locking means for the machine-wide file, which every local user
// may read: a reader that keeps its shared lock delays every write, which gives
// up after the busy timeout with ERROR_BUSY and changes nothing.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "integration/registry_test_support.h"
#include "port/linux/registry_file.h"
#include "port/linux/registry_sqlite.h"

namespace {

using registry_test::readDwordAt;
using registry_test::readFile;
using registry_test::setDword;
namespace sqlite = utils::linuxport::sqlite;

using RegistryLocking = registry_test::ScratchStore;

TEST_F(RegistryLocking, AReaderHoldingItsLockMakesMachineWritesFailBusy) {
  ASSERT_EQ(setDword(*open(), HKEY_LOCAL_MACHINE, L"LogDebug", 1), ERROR_SUCCESS);
  // Another process opens a read transaction, as an open sqlite3 shell would,
  // and holds it until told to end it.
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
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(sqlite::Connection::kBusyTimeoutMs));
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
TEST_F(RegistryLocking, TablesMadeByAnotherOpenerWhileWaitingAreUsed) {
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
