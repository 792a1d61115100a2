// The registry store under process death, several processes at once and other
// users: a write reported done is never lost, concurrent users neither fail nor
// see values go back in time, a user without write permission on the
// machine-wide file reads it and is refused every change, the files' modes do
// not depend on the umask, and a symbolic link at a store path is refused.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "integration/child_process.h"
#include "integration/registry_test_support.h"

namespace registry_test {
namespace {

// A child writes values in a loop and reports each one after setValue returned
// success; it is killed at a different moment each round, often in the middle
// of a commit. Every reported value must be there afterwards, in a sound file.
using RegistryDurability = registry_test::ScratchStore;
using RegistryConcurrency = registry_test::ScratchStore;

TEST_F(RegistryDurability, KilledWritersLoseNoReportedWrite) {
  std::set<int> reported;
  int killedMidCommit = 0;
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    registry_test::PausedChild writer(
        [&] {
          ::close(pipeFds[0]);
          const int code = [&] {
            RegistryStore store(machine(), user());
            ScopedKey key(store);
            if (store.createKey(HKEY_CURRENT_USER, L"Crash", KEY_ALL_ACCESS, key.out(), nullptr) != ERROR_SUCCESS) {
              return 3;
            }
            for (int i = 0;; ++i) {
              const int id = round * 100000 + i;
              // Every few writes a bigger value, so that commits span several pages.
              std::vector<BYTE> blob(i % 5 == 0 ? 3000 : 0, static_cast<BYTE>(id));
              if (!blob.empty() && store.setValue(key.get(), (L"blob" + std::to_wstring(id)).c_str(), REG_BINARY,
                                                  blob.data(), static_cast<DWORD>(blob.size())) != ERROR_SUCCESS) {
                return 4;
              }
              if (setDword(store, key.get(), (L"v" + std::to_wstring(id)).c_str(), static_cast<DWORD>(id)) !=
                  ERROR_SUCCESS) {
                return 5;
              }
              if (::write(pipeFds[1], &id, sizeof id) != static_cast<ssize_t>(sizeof id)) return 6;
            }
          }();
          ::close(pipeFds[1]);  // a writer that failed on its own ends the parent's reads at once
          return code;
        },
        [] { return 0; });
    ::close(pipeFds[1]);
    FILE* ids = ::fdopen(pipeFds[0], "rb");
    ASSERT_NE(ids, nullptr);
    auto readId = [ids](int* id) { return std::fread(id, sizeof *id, 1, ids) == 1; };
    const int wanted = 1 + (round * 7) % 11;
    int id = 0;
    for (int n = 0; n < wanted && readId(&id); ++n) reported.insert(id);
    ::usleep(static_cast<useconds_t>((round * 1777) % 4000));
    ::kill(writer.pid(), SIGKILL);
    const int status = writer.finish();
    while (readId(&id)) reported.insert(id);
    std::fclose(ids);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: exit " << WEXITSTATUS(status);
    if (std::filesystem::exists(user() + "-journal")) ++killedMidCommit;

    RegistryStore check(machine(), user());
    std::string report;
    ASSERT_EQ(check.checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS) << report;
    ScopedKey key(check);
    ASSERT_EQ(check.openKey(HKEY_CURRENT_USER, L"Crash", KEY_READ, key.out()), ERROR_SUCCESS);
    for (int expected : reported) {
      DWORD value = 0;
      ASSERT_EQ(getDword(check, key.get(), (L"v" + std::to_wstring(expected)).c_str(), &value), ERROR_SUCCESS)
          << "reported write " << expected << " was lost";
      ASSERT_EQ(value, static_cast<DWORD>(expected));
    }
  }
  EXPECT_GE(reported.size(), static_cast<size_t>(kRounds));
  RecordProperty("rounds_killed_mid_commit", killedMidCommit);
}

// Four processes mix reads and durable writes on one file. Each writes its own
// values and a running "Last" counter; readers check that no process's counter
// ever goes backwards and that their own writes read back.
TEST_F(RegistryConcurrency, FourProcessesMixReadsAndWritesWithoutLoss) {
  constexpr int kProcesses = 4;
  constexpr int kOperations = 10000;
  constexpr int kWriteEvery = 50;
  constexpr int kWrites = kOperations / kWriteEvery;
  {
    RegistryStore setup(machine(), user());  // made once, so the children race on use, not creation
    ASSERT_EQ(setDword(setup, HKEY_LOCAL_MACHINE, L"Shared", 7), ERROR_SUCCESS);
    ASSERT_EQ(setDword(setup, HKEY_CURRENT_USER, L"Setup", 7), ERROR_SUCCESS);
  }

  // Started at once, the children run side by side; each ends with its own status.
  std::vector<std::unique_ptr<registry_test::PausedChild>> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(std::make_unique<registry_test::PausedChild>(
        [&, p] {
          RegistryStore store(machine(), user());
          const std::wstring own = L"Proc" + std::to_wstring(p);
          std::map<int, DWORD> lastSeen;
          DWORD written = 0;
          unsigned seed = static_cast<unsigned>(p) * 2654435761u + 1;
          for (int op = 0; op < kOperations; ++op) {
            seed = seed * 1103515245u + 12345u;
            if (op % kWriteEvery == 0) {
              ScopedKey key(store);
              if (const DWORD error =
                      store.createKey(HKEY_CURRENT_USER, own.c_str(), KEY_ALL_ACCESS, key.out(), nullptr)) {
                std::fprintf(stderr, "process %d: createKey failed with %u\n", p, static_cast<unsigned>(error));
                return 10;
              }
              if (setDword(store, key.get(), (L"w" + std::to_wstring(written)).c_str(), written) != ERROR_SUCCESS) {
                return 11;
              }
              if (setDword(store, key.get(), L"Last", written) != ERROR_SUCCESS) return 12;
              ++written;
              continue;
            }
            const int other = static_cast<int>((seed >> 16) % kProcesses);
            DWORD value = 0;
            const DWORD error = registry_test::readDwordAt(store, HKEY_CURRENT_USER,
                                                           (L"Proc" + std::to_wstring(other)).c_str(), L"last", &value);
            if (error == ERROR_FILE_NOT_FOUND && lastSeen.count(other) == 0) continue;  // not written yet
            if (error != ERROR_SUCCESS) return 13;
            if (lastSeen.count(other) != 0 && value < lastSeen[other]) return 14;  // went back in time
            lastSeen[other] = value;
            if (other == p && value + 1 != written) return 15;  // our own last write
            if (op % 7 == 0 &&
                (getDword(store, HKEY_LOCAL_MACHINE, L"SHARED", &value) != ERROR_SUCCESS || value != 7)) {
              return 16;
            }
          }
          return 0;
        },
        [] { return 0; }));
  }
  for (auto& child : children) {
    const int status = child->finish();
    EXPECT_TRUE(registry_test::exitedWith(status, 0)) << "child failed with status " << status;
  }

  RegistryStore check(machine(), user());
  std::string report;
  ASSERT_EQ(check.checkIntegrity(HKEY_CURRENT_USER, &report), ERROR_SUCCESS) << report;
  for (int p = 0; p < kProcesses; ++p) {
    ScopedKey key(check);
    ASSERT_EQ(check.openKey(HKEY_CURRENT_USER, (L"Proc" + std::to_wstring(p)).c_str(), KEY_READ, key.out()),
              ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(check.queryInfoKey(key.get(), nullptr, &values), ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kWrites + 1));
    for (DWORD w = 0; w < kWrites; ++w) {
      DWORD value = 0;
      ASSERT_EQ(getDword(check, key.get(), (L"w" + std::to_wstring(w)).c_str(), &value), ERROR_SUCCESS) << w;
      ASSERT_EQ(value, w);
    }
    DWORD last = 0;
    ASSERT_EQ(getDword(check, key.get(), L"Last", &last), ERROR_SUCCESS);
    EXPECT_EQ(last, static_cast<DWORD>(kWrites - 1));
  }
}

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
}  // namespace registry_test
