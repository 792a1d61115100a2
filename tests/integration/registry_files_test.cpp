// Store files that are not as this version writes them: files that are no sound
// store get a clear error on every call, crash nothing and are left exactly as
// they were (never repaired, replaced or deleted); files in the first release's
// layout (every key's full path) are read as they are and rewritten to the
// current layout by the first write, keeping every key, value, handle and id.
#include <unistd.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "integration/registry_test_support.h"
#include "port/linux/registry_sqlite.h"

namespace registry_test {
namespace {

std::set<std::string> folderListing(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

std::string pseudoRandomBytes(size_t count, unsigned seed) {
  std::string bytes(count, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

// A sound store of several pages, made and closed.
bool makeStore(const std::string& path) {
  RegistryStore store(path + ".machine", path);
  ScopedKey key(store);
  const std::vector<BYTE> blob(1500, 0x5A);
  bool made = store.createKey(HKEY_CURRENT_USER, L"Software\\Vorlane", KEY_ALL_ACCESS, key.out(), nullptr) == 0;
  for (int i = 0; made && i < 20; ++i) {
    made = store.setValue(key.get(), (L"value" + std::to_wstring(i)).c_str(), REG_BINARY, blob.data(), 1500) == 0;
  }
  std::error_code ignored;
  std::filesystem::remove(path + ".machine", ignored);
  return made;
}

struct BadFile {
  const char* what;
  std::function<bool(const std::string& path)> make;
  DWORD expected;
};

TEST(RegistryBadFiles, EveryCallFailsClearlyAndTheFileIsLeftAlone) {
  const std::vector<BadFile> cases = {
      {"random bytes", [](const std::string& p) { return writeFile(p, pseudoRandomBytes(8192, 7)); }, ERROR_BADDB},
      {"a short text file", [](const std::string& p) { return writeFile(p, "LogDebug=12\n"); }, ERROR_BADDB},
      {"a SQLite header over garbage",
       [](const std::string& p) {
         return writeFile(p, std::string("SQLite format 3", 16) + pseudoRandomBytes(4080, 3));
       },
       ERROR_BADDB},
      {"a store cut in half",
       [](const std::string& p) {
         if (!makeStore(p)) return false;
         std::string bytes = readFile(p);
         return writeFile(p, bytes.substr(0, bytes.size() / 2));
       },
       ERROR_REGISTRY_CORRUPT},
      {"a store with overwritten pages",
       [](const std::string& p) {
         if (!makeStore(p)) return false;
         std::string bytes = readFile(p);
         for (size_t i = 4096 + 100; i < bytes.size(); i += 97) bytes[i] = static_cast<char>(0xFF);
         return writeFile(p, bytes);
       },
       ERROR_REGISTRY_CORRUPT},
      {"another program's database",
       [](const std::string& p) {
         return runSql(p, "CREATE TABLE people(name TEXT); INSERT INTO people VALUES('Ada');");
       },
       ERROR_BADDB},
      {"an empty database with another version mark",
       [](const std::string& p) { return runSql(p, "PRAGMA user_version=5;"); }, ERROR_BADDB},
      {"a store from a newer version",
       [](const std::string& p) { return makeStore(p) && runSql(p, "PRAGMA user_version=3;"); }, ERROR_BADDB},
      {"a store mark without its tables",
       [](const std::string& p) {
         return runSql(p, "PRAGMA application_id=1431455047; PRAGMA user_version=1; CREATE TABLE other(x);");
       },
       ERROR_BADDB},
      {"a folder where the file should be", [](const std::string& p) { return std::filesystem::create_directory(p); },
       ERROR_CANTOPEN},
  };

  for (const BadFile& bad : cases) {
    SCOPED_TRACE(bad.what);
    TempFolder folder;
    TempFolder machineFolder;
    ASSERT_TRUE(folder.ok() && machineFolder.ok());
    const std::string path = folder.file("user.db");
    ASSERT_TRUE(bad.make(path));
    const bool isFile = std::filesystem::is_regular_file(path);
    const std::string before = isFile ? readFile(path) : std::string();
    const std::set<std::string> listing = folderListing(folder.path());
    {
      RegistryStore store(machineFolder.file("machine.db"), path);
      // A write first: reads meet damage only in the pages they read (see
      // ADamagedStoreTakesNoWrite), a write checks every page first.
      EXPECT_EQ(setDword(store, HKEY_CURRENT_USER, L"x", 1), bad.expected);
      HKEY key = nullptr;
      EXPECT_EQ(store.openKey(HKEY_CURRENT_USER, L"Software\\Vorlane", KEY_READ, &key), bad.expected);
      EXPECT_EQ(store.queryValue(HKEY_CURRENT_USER, L"x", nullptr, nullptr, nullptr), bad.expected);
      EXPECT_EQ(store.deleteValue(HKEY_CURRENT_USER, L"x"), bad.expected);
      EXPECT_EQ(store.createKey(HKEY_CURRENT_USER, L"New", KEY_ALL_ACCESS, &key, nullptr), bad.expected);
      EXPECT_EQ(store.deleteTree(HKEY_CURRENT_USER, nullptr), bad.expected);
      wchar_t name[8];
      DWORD chars = 8;
      EXPECT_EQ(store.enumKey(HKEY_CURRENT_USER, 0, name, &chars), bad.expected);
      EXPECT_EQ(store.queryInfoKey(HKEY_CURRENT_USER, nullptr, nullptr), bad.expected);
      std::string report;
      EXPECT_EQ(store.checkIntegrity(HKEY_CURRENT_USER, &report), bad.expected);
      EXPECT_EQ(store.openHandles(), 0u);
      EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"x", 1), ERROR_SUCCESS) << "the other root is not affected";
    }
    {
      RegistryStore again(machineFolder.file("machine.db"), path);
      EXPECT_EQ(setDword(again, HKEY_CURRENT_USER, L"x", 1), bad.expected) << "the next process sees the same";
      EXPECT_EQ(again.queryValue(HKEY_CURRENT_USER, L"x", nullptr, nullptr, nullptr), bad.expected)
          << "the next process sees the same";
    }
    EXPECT_EQ(folderListing(folder.path()), listing) << "no file made or removed beside it";
    if (isFile) {
      EXPECT_EQ(readFile(path), before) << "the file's bytes are unchanged";
    }
  }
}

// Damage in pages that a write does not read: SQLite does not notice it while
// writing, so a process's first write is preceded by a check of every page, and
// the first damage any call meets makes every later call of the process fail.
using RegistryDamagedFile = registry_test::ScratchStore;

TEST_F(RegistryDamagedFile, ADamagedStoreTakesNoWriteAndAnEmptyFileBecomesAStore) {
  const std::string path = user();
  const std::string machine = this->machine();
  {
    RegistryStore store(machine, path);
    ASSERT_EQ(setDword(store, HKEY_CURRENT_USER, L"Small", 1), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(store.createKey(HKEY_CURRENT_USER, L"Sub", KEY_ALL_ACCESS, &key, nullptr), ERROR_SUCCESS);
    store.closeKey(key);
  }
  // The page of the index that finds keys by name gets an invalid page type: the
  // root's values are read and written without it.
  int64_t indexPage = 0;
  int64_t pageSize = 0;
  {
    sqlite::Connection connection;
    sqlite::Statement statement;
    ASSERT_EQ(connection.open(path, false), sqlite::kOk);
    ASSERT_EQ(connection.prepare("SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_schema"
                                 " WHERE name='registry_keys_by_parent'",
                                 &statement, false),
              sqlite::kOk);
    ASSERT_EQ(statement.step(), sqlite::kRow);
    indexPage = statement.columnInt64(0);
    pageSize = statement.columnInt64(1);
  }
  std::string bytes = readFile(path);
  const size_t offset = static_cast<size_t>((indexPage - 1) * pageSize);
  ASSERT_GT(indexPage, 1);
  ASSERT_LT(offset, bytes.size());
  bytes[offset] = 0x07;
  ASSERT_TRUE(writeFile(path, bytes));

  DWORD value = 0;
  {
    // A process whose first call is a write.
    RegistryStore store(machine, path);
    EXPECT_EQ(setDword(store, HKEY_CURRENT_USER, L"Small", 2), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(setDword(store, HKEY_CURRENT_USER, L"Other", 2), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(getDword(store, HKEY_CURRENT_USER, L"Small", &value), ERROR_REGISTRY_CORRUPT);
  }
  {
    // A process that reads: sound data reads until the damage is met, and from
    // then on nothing, so nothing is written on top of it either.
    RegistryStore store(machine, path);
    EXPECT_EQ(getDword(store, HKEY_CURRENT_USER, L"Small", &value), ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    HKEY key = nullptr;
    EXPECT_EQ(store.openKey(HKEY_CURRENT_USER, L"Sub", KEY_READ, &key), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(getDword(store, HKEY_CURRENT_USER, L"Small", &value), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(setDword(store, HKEY_CURRENT_USER, L"Small", 3), ERROR_REGISTRY_CORRUPT);
    EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"x", 1), ERROR_SUCCESS) << "the other file is not affected";
    EXPECT_EQ(store.openHandles(), 0u);
  }
  EXPECT_TRUE(readFile(path) == bytes) << "nothing written";

  ASSERT_TRUE(writeFile(folder_.file("empty.db"), ""));
  RegistryStore store(machine, folder_.file("empty.db"));
  ASSERT_EQ(setDword(store, HKEY_CURRENT_USER, L"x", 1), ERROR_SUCCESS);
  std::string report;
  EXPECT_EQ(store.checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS) << report;
}

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
}  // namespace registry_test
