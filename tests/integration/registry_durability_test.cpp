// The registry store under process death and under several processes at once:
// a write reported done is never lost, and concurrent users neither fail nor see
// values go back in time.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "integration/registry_test_support.h"

namespace {

using registry_test::getDword;
using registry_test::setDword;
using utils::linuxport::RegistryStore;
using utils::port::ScopedKey;

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

}  // namespace
