// A user without write permission on the machine-wide file reads it and is
// refused every change; a file it may not read at all is refused outright. Run as
// root, the test makes root-owned files and runs the unprivileged half in a child
// process as "nobody"; otherwise it is skipped.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "integration/child_process.h"
#include "integration/registry_test_support.h"

namespace {

using registry_test::getDword;
using registry_test::readDwordAt;
using registry_test::readFile;
using registry_test::setDword;
using registry_test::TempFolder;
using utils::linuxport::RegistryStore;
using utils::port::ScopedKey;

TEST(RegistryPermissions, UnprivilegedUsersReadTheMachineFileButCannotChangeIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make root-owned files and to become nobody";
  TempFolder folder;
  ASSERT_TRUE(folder.ok());
  ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
  // Made under the strictest umask: the machine file and its folder must still
  // be readable by every user.
  const mode_t oldMask = ::umask(077);
  {
    RegistryStore store(folder.file("machine/machine.db"), folder.file("root-user.db"));
    ScopedKey key(store);
    ASSERT_EQ(store.createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_ALL_ACCESS, key.out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setDword(store, key.get(), L"LogDebug", 12), ERROR_SUCCESS);
    ScopedKey other(store);
    ASSERT_EQ(store.createKey(HKEY_LOCAL_MACHINE, L"Software\\Other", KEY_ALL_ACCESS, other.out(), nullptr),
              ERROR_SUCCESS);
    RegistryStore secret(folder.file("secret.db"), folder.file("root-user.db"));
    ASSERT_EQ(setDword(secret, HKEY_LOCAL_MACHINE, L"Hidden", 1), ERROR_SUCCESS);
  }
  ::umask(oldMask);
  ASSERT_EQ(::chmod(folder.file("secret.db").c_str(), 0600), 0);
  // A home for nobody's own registry (the child runner's nobody is uid and gid 65534).
  ASSERT_EQ(::mkdir(folder.file("home").c_str(), 0700), 0);
  ASSERT_EQ(::chown(folder.file("home").c_str(), 65534, 65534), 0);
  const std::string machineBefore = readFile(folder.file("machine/machine.db"));
  const std::string secretBefore = readFile(folder.file("secret.db"));

  // The child's exit code: the number of its first failed check (0: all held).
  const auto nobody = utils::testing::runChild(
      [&] {
        int checks = 0, failed = 0;
        auto expect = [&](bool held) {
          ++checks;
          if (!held && failed == 0) failed = checks;
        };
        RegistryStore store(folder.file("machine/machine.db"), folder.file("home/user.db"));

        DWORD value = 0;
        for (int pass = 0; pass < 2; ++pass) {
          expect(readDwordAt(store, HKEY_LOCAL_MACHINE, L"SOFTWARE\\VORLANE", L"logdebug", &value) == ERROR_SUCCESS);
          expect(value == 12u);
        }
        HKEY key = nullptr;
        expect(store.openKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_WRITE, &key) == ERROR_ACCESS_DENIED);
        expect(store.createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_WRITE, &key, nullptr) ==
               ERROR_ACCESS_DENIED);
        expect(store.createKey(HKEY_LOCAL_MACHINE, L"Software\\New", KEY_READ, &key, nullptr) == ERROR_ACCESS_DENIED);
        expect(setDword(store, HKEY_LOCAL_MACHINE, L"x", 1) == ERROR_ACCESS_DENIED);
        expect(store.deleteValue(HKEY_LOCAL_MACHINE, L"x") == ERROR_ACCESS_DENIED);
        expect(store.deleteTree(HKEY_LOCAL_MACHINE, L"Software\\Other") == ERROR_ACCESS_DENIED);
        expect(store.deleteKeyValue(HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug") == ERROR_ACCESS_DENIED);
        {
          ScopedKey existing(store);
          DWORD disposition = 0;
          expect(store.createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_READ, existing.out(), &disposition) ==
                 ERROR_SUCCESS);
          expect(disposition == static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
          ScopedKey software(store);
          expect(store.openKey(HKEY_LOCAL_MACHINE, L"Software", KEY_READ, software.out()) == ERROR_SUCCESS);
          DWORD subKeys = 0;
          expect(store.queryInfoKey(software.get(), &subKeys, nullptr) == ERROR_SUCCESS);
          expect(subKeys == 2u);
        }
        expect(readDwordAt(store, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", &value) == ERROR_SUCCESS);
        expect(value == 12u);
        expect(setDword(store, HKEY_CURRENT_USER, L"mine", 5) == ERROR_SUCCESS);
        expect(getDword(store, HKEY_CURRENT_USER, L"mine", &value) == ERROR_SUCCESS);

        // A file nobody may read: refused, for reads and writes alike.
        RegistryStore secret(folder.file("secret.db"), folder.file("home/user.db"));
        expect(getDword(secret, HKEY_LOCAL_MACHINE, L"Hidden", &value) == ERROR_ACCESS_DENIED);
        expect(secret.openKey(HKEY_LOCAL_MACHINE, nullptr, KEY_READ, &key) == ERROR_ACCESS_DENIED);
        expect(setDword(secret, HKEY_LOCAL_MACHINE, L"Hidden", 2) == ERROR_ACCESS_DENIED);

        // No machine file, and none can be made: an empty registry that refuses writes.
        RegistryStore missing(folder.file("missing.db"), folder.file("home/user.db"));
        expect(getDword(missing, HKEY_LOCAL_MACHINE, L"LogDebug", &value) == ERROR_FILE_NOT_FOUND);
        expect(readDwordAt(missing, HKEY_LOCAL_MACHINE, L"Software\\vorlane", L"LogDebug", &value) ==
               ERROR_FILE_NOT_FOUND);
        expect(setDword(missing, HKEY_LOCAL_MACHINE, L"LogDebug", 1) == ERROR_ACCESS_DENIED);
        expect(missing.createKey(HKEY_LOCAL_MACHINE, L"Software", KEY_READ, &key, nullptr) == ERROR_ACCESS_DENIED);
        expect(store.openHandles() + secret.openHandles() + missing.openHandles() == 0u);
        return failed;
      },
      {.asOtherUser = true});
  EXPECT_EQ(nobody.code, 0) << "signal " << nobody.signal;
  EXPECT_EQ(readFile(folder.file("machine/machine.db")), machineBefore);
  EXPECT_EQ(readFile(folder.file("secret.db")), secretBefore);
  EXPECT_FALSE(std::filesystem::exists(folder.file("machine/machine.db-journal")));
  EXPECT_FALSE(std::filesystem::exists(folder.file("missing.db"))) << "nobody could not have made it";
  EXPECT_TRUE(std::filesystem::exists(folder.file("home/user.db"))) << "nobody's own registry was made";
}

TEST(RegistryPermissions, ModesDoNotDependOnTheUmask) {
  TempFolder folder;
  ASSERT_TRUE(folder.ok());
  const mode_t oldMask = ::umask(077);
  {
    RegistryStore store(folder.file("lib/registry/machine.db"), folder.file("config/utils/registry.db"));
    EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"m", 1), ERROR_SUCCESS);
    EXPECT_EQ(setDword(store, HKEY_CURRENT_USER, L"u", 1), ERROR_SUCCESS);
  }
  ::umask(0);  // nor may a permissive umask widen the private file
  {
    RegistryStore store(folder.file("lib2/machine.db"), folder.file("config2/registry.db"));
    EXPECT_EQ(setDword(store, HKEY_CURRENT_USER, L"u", 1), ERROR_SUCCESS);
    EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"m", 1), ERROR_SUCCESS);
  }
  ::umask(oldMask);
  const struct {
    const char* path;
    mode_t mode;
  } expected[] = {{"lib", 0755},
                  {"lib/registry", 0755},
                  {"lib/registry/machine.db", 0644},
                  {"config", 0700},
                  {"config/utils", 0700},
                  {"config/utils/registry.db", 0600},
                  {"lib2/machine.db", 0644},
                  {"config2", 0700},
                  {"config2/registry.db", 0600}};
  for (const auto& entry : expected) {
    struct stat info;
    ASSERT_EQ(::stat(folder.file(entry.path).c_str(), &info), 0) << entry.path;
    EXPECT_EQ(info.st_mode & 07777, entry.mode) << entry.path;
  }
}

TEST(RegistryPermissions, ASymbolicLinkAtTheStorePathIsRefused) {
  TempFolder folder;
  ASSERT_TRUE(folder.ok());
  {
    RegistryStore maker(folder.file("real.db"), folder.file("user.db"));
    ASSERT_EQ(setDword(maker, HKEY_LOCAL_MACHINE, L"LogDebug", 12), ERROR_SUCCESS);
  }
  const std::string realBefore = readFile(folder.file("real.db"));
  ASSERT_EQ(::symlink(folder.file("real.db").c_str(), folder.file("linked.db").c_str()), 0);
  ASSERT_EQ(::symlink(folder.file("absent.db").c_str(), folder.file("dangling.db").c_str()), 0);
  // A process's first call may be a read or a write: each finds the link itself.
  for (const bool writeFirst : {false, true}) {
    for (const char* name : {"linked.db", "dangling.db"}) {
      RegistryStore store(folder.file(name), folder.file("user.db"));
      DWORD value = 0;
      if (writeFirst) {
        EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"LogDebug", 1), ERROR_CANTOPEN) << name;
      }
      EXPECT_EQ(getDword(store, HKEY_LOCAL_MACHINE, L"LogDebug", &value), ERROR_CANTOPEN) << name;
      EXPECT_EQ(setDword(store, HKEY_LOCAL_MACHINE, L"LogDebug", 1), ERROR_CANTOPEN) << name;
    }
  }
  EXPECT_EQ(readFile(folder.file("real.db")), realBefore);
  EXPECT_FALSE(std::filesystem::exists(folder.file("absent.db"))) << "nothing is made through a dangling link";
}

}  // namespace
