// Store files in the first release's layout (every key's full path): read as they
// are, rewritten to the current layout by the first write, with every key, value,
// handle and id kept; a failed rewrite leaves the file as it was.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/registry_test_support.h"
#include "port/linux/registry_sqlite.h"

namespace {

using registry_test::getDword;
using registry_test::readDwordAt;
using registry_test::readFile;
using registry_test::runSql;
using registry_test::setDword;
using utils::linuxport::RegistryStore;
using utils::port::ScopedKey;
namespace sqlite = utils::linuxport::sqlite;

// A file as the first release left it: keys with their folded full paths, a
// deleted key's id (8) used up, names outside ASCII.
constexpr char kFirstLayoutFile[] =
    "CREATE TABLE registry_keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    "  path TEXT NOT NULL UNIQUE, name TEXT NOT NULL);"
    "CREATE INDEX registry_keys_by_parent ON registry_keys(parent, path);"
    "CREATE TABLE registry_values(key INTEGER NOT NULL, folded TEXT NOT NULL, name TEXT NOT NULL,"
    "  type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, folded)) WITHOUT ROWID;"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(1, 0, '', '');"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(2, 1, 'SOFTWARE', 'Software');"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(3, 2, 'SOFTWARE\\VORLANE', 'vorlane');"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(4, 3, 'SOFTWARE\\VORLANE\\DEVICES', 'Devices');"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(6, 2, 'SOFTWARE\xC3\x89T\xC3\x89', 'x');"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(7, 2, 'SOFTWARE\\\xC3\x89T\xC3\x89', "
    "  '\xC3\xA9t\xC3\xA9');"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(8, 7, 'SOFTWARE\\\xC3\x89T\xC3\x89\\X', 'x');"
    "DELETE FROM registry_keys WHERE id IN (6, 8);"
    "INSERT INTO registry_keys(id, parent, path, name) VALUES(5, 7, 'SOFTWARE\\\xC3\x89T\xC3\x89\\"
    "\xE6\x97\xA5\xE6\x9C\xAC', '\xE6\x97\xA5\xE6\x9C\xAC');"
    "INSERT INTO registry_values VALUES(3, 'LOGDEBUG', 'LogDebug', 4, x'0c000000');"
    "INSERT INTO registry_values VALUES(1, '', '', 1, x'7800');"
    "INSERT INTO registry_values VALUES(5, 'DEEP', 'Deep', 4, x'05000000');"
    "PRAGMA application_id=1431455047; PRAGMA user_version=1;";

int64_t queryNumber(const std::string& path, const char* sql) {
  sqlite::Connection connection;
  sqlite::Statement statement;
  if (connection.open(path, false) != sqlite::kOk || connection.prepare(sql, &statement, false) != sqlite::kOk ||
      statement.step() != sqlite::kRow) {
    return -1;
  }
  return statement.columnInt64(0);
}

std::vector<std::wstring> subKeys(RegistryStore& store, HKEY key) {
  std::vector<std::wstring> names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[300];
    DWORD chars = 300;
    if (store.enumKey(key, index, name, &chars) != ERROR_SUCCESS) break;
    names.emplace_back(name, chars);
  }
  return names;
}

// Everything the fixture holds, read through the store; softwareKeys: the
// subkeys of Software (a test may add one).
void expectFixtureContent(RegistryStore& store,
                          const std::vector<std::wstring>& softwareKeys = {L"vorlane", L"\u00e9t\u00e9"}) {
  DWORD value = 0;
  EXPECT_EQ(readDwordAt(store, HKEY_LOCAL_MACHINE, L"software\\VORLANE", L"logdebug", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 12u);
  EXPECT_EQ(readDwordAt(store, HKEY_LOCAL_MACHINE, L"Software\\\u00c9t\u00e9\\\u65e5\u672c", L"Deep", &value),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 5u);
  ScopedKey software(store);
  ASSERT_EQ(store.openKey(HKEY_LOCAL_MACHINE, L"Software", KEY_READ, software.out()), ERROR_SUCCESS);
  EXPECT_EQ(subKeys(store, software.get()), softwareKeys);
  ScopedKey gone(store);
  EXPECT_EQ(store.openKey(HKEY_LOCAL_MACHINE, L"Software\\\u00e9t\u00e9\\x", KEY_READ, gone.out()),
            ERROR_FILE_NOT_FOUND);
  DWORD size = 0;
  EXPECT_EQ(store.queryValue(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 2u);
}

class RegistryLayout : public registry_test::ScratchStore {
 protected:
  void SetUp() override {
    ScratchStore::SetUp();
    ASSERT_TRUE(std::filesystem::create_directory(folder_.file("machine")));
    ASSERT_TRUE(runSql(machine(), kFirstLayoutFile));
  }
};

// A rewrite that fails (a full disk after BEGIN) leaves the file as it was; the
// next one succeeds and keeps every key, value, handle and used-up id.
TEST_F(RegistryLayout, AFirstReleaseFileIsReadAsItIsAndRewrittenByTheFirstWrite) {
  const std::string before = readFile(machine());
  auto store = open();
  expectFixtureContent(*store);
  EXPECT_EQ(store->fileLayout(HKEY_LOCAL_MACHINE), 1);
  EXPECT_EQ(readFile(machine()), before) << "reading changes nothing";

  // A handle opened on the old layout keeps working after the rewrite.
  ScopedKey deep(*store);
  ASSERT_EQ(store->openKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\\u00c9T\u00c9\\\u65e5\u672c", KEY_READ, deep.out()),
            ERROR_SUCCESS);
  ASSERT_EQ(setDword(*store, HKEY_CURRENT_USER, L"other", 1), ERROR_SUCCESS) << "the other file is not touched";
  EXPECT_EQ(store->fileLayout(HKEY_LOCAL_MACHINE), 1);

  sqlite::injectFault(sqlite::Call::Exec, sqlite::kFull, 1, 1);
  EXPECT_EQ(setDword(*store, HKEY_LOCAL_MACHINE, L"x", 1), ERROR_DISK_FULL);
  EXPECT_EQ(sqlite::injectedFailures(), 1);
  sqlite::clearFaults();
  EXPECT_EQ(readFile(machine()), before);
  EXPECT_EQ(store->fileLayout(HKEY_LOCAL_MACHINE), 1);
  expectFixtureContent(*store);

  ScopedKey added(*store);
  ASSERT_EQ(store->createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane\\Added", KEY_ALL_ACCESS, added.out(), nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(store->fileLayout(HKEY_LOCAL_MACHINE), 2);
  expectFixtureContent(*store);
  DWORD value = 0;
  EXPECT_EQ(getDword(*store, deep.get(), L"deep", &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(queryNumber(machine(), "SELECT max(id) FROM registry_keys"), 9) << "ids 6 and 8 are never given again";
  EXPECT_EQ(queryNumber(machine(), "SELECT seq FROM sqlite_sequence WHERE name='registry_keys'"), 9);
  EXPECT_EQ(queryNumber(machine(), "SELECT count(*) FROM pragma_table_info('registry_keys') WHERE name='path'"), 0);
  std::string report;
  EXPECT_EQ(store->checkIntegrity(HKEY_LOCAL_MACHINE, &report), ERROR_SUCCESS) << report;
}

// Another process rewrites the file while this one holds statements for the old
// layout: this one follows.
TEST_F(RegistryLayout, AReaderFollowsARewriteByAnotherProcess) {
  RegistryStore reader(machine(), folder_.file("child-user.db"));
  DWORD value = 0;
  registry_test::PausedChild child(
      [&] {
        return readDwordAt(reader, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", &value) == ERROR_SUCCESS &&
                       reader.fileLayout(HKEY_LOCAL_MACHINE) == 1
                   ? 0
                   : 10;
      },
      [&] {
        if (readDwordAt(reader, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"New", &value) != ERROR_SUCCESS) return 12;
        if (value != 3) return 13;
        if (subKeys(reader, HKEY_LOCAL_MACHINE) != std::vector<std::wstring>{L"Software"}) return 14;
        return reader.fileLayout(HKEY_LOCAL_MACHINE) != 2 ? 15 : 0;
      });
  ASSERT_TRUE(child.waitReady());
  {
    auto writer = open();
    ScopedKey key(*writer);
    ASSERT_EQ(writer->openKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_ALL_ACCESS, key.out()), ERROR_SUCCESS);
    ASSERT_EQ(setDword(*writer, key.get(), L"New", 3), ERROR_SUCCESS);
    EXPECT_EQ(writer->fileLayout(HKEY_LOCAL_MACHINE), 2);
  }
  const int status = child.finish();
  EXPECT_TRUE(registry_test::exitedWith(status, 0)) << "child status " << status;
}

// A file the rewrite cannot take (two siblings of one name, which the old layout
// could not tell apart): refused, rolled back, still readable.
TEST_F(RegistryLayout, AnUnrewritableFileIsRefusedAndStaysReadable) {
  ASSERT_TRUE(runSql(machine(), "INSERT INTO registry_keys(parent, path, name) VALUES(2, 'ELSEWHERE\\VORLANE', 'v');"));
  const std::string damaged = readFile(machine());
  auto store = open();
  EXPECT_EQ(setDword(*store, HKEY_LOCAL_MACHINE, L"x", 1), ERROR_REGISTRY_CORRUPT);
  EXPECT_EQ(readFile(machine()), damaged);
  // The first layout lists siblings in the order of their paths.
  expectFixtureContent(*store, {L"v", L"vorlane", L"\u00e9t\u00e9"});
}

}  // namespace
