// What SQLite's locking means for the machine-wide file, which every local user
// may read: a reader that keeps its shared lock delays every write, which gives
// up after the busy timeout with ERROR_BUSY and changes nothing.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "integration/registry_test_support.h"
#include "port/linux/registry_sqlite.h"

namespace {

using registry_test::readDwordAt;
using registry_test::readFile;
using registry_test::setDword;
using registry_test::TempFolder;
using utils::linuxport::RegistryStore;
namespace sqlite = utils::linuxport::sqlite;

TEST(RegistryLocking, AReaderHoldingItsLockMakesMachineWritesFailBusy) {
  TempFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string machine = folder.file("machine.db");
  {
    RegistryStore store(machine, folder.file("user.db"));
    ASSERT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"LogDebug", 1), ERROR_SUCCESS);
  }
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  // Another process opens a read transaction, as an open sqlite3 shell would,
  // and holds it until told to end it.
  const pid_t reader = ::fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    sqlite::Connection connection;
    const bool held = connection.open(machine, false) == sqlite::kOk &&
                      connection.exec("BEGIN; SELECT count(*) FROM registry_values;") == sqlite::kOk;
    char signal = held ? 'r' : 'f';
    if (::write(ready[1], &signal, 1) != 1 || ::read(release[0], &signal, 1) != 1) ::_exit(11);
    ::_exit(connection.exec("COMMIT") == sqlite::kOk ? 0 : 12);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, 'r');
  const std::string before = readFile(machine);

  RegistryStore store(machine, folder.file("user.db"));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"LogDebug", 2), DWORD{ERROR_BUSY});
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(sqlite::Connection::kBusyTimeoutMs));
  EXPECT_EQ(readFile(machine), before) << "the refused write changed nothing";
  DWORD value = 0;
  EXPECT_EQ(readDwordAt(store, HKEY_LOCAL_MACHINE, nullptr, L"LogDebug", &value), ERROR_SUCCESS)
      << "readers go on while the lock is shared";
  EXPECT_EQ(value, 1u);

  ASSERT_EQ(::write(release[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  EXPECT_TRUE(registry_test::exitedWith(status, 0)) << "reader status " << status;
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);

  EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"LogDebug", 2), ERROR_SUCCESS) << "once the reader let go";
  EXPECT_EQ(readDwordAt(store, HKEY_LOCAL_MACHINE, nullptr, L"LogDebug", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
}

}  // namespace
