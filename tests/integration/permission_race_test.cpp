// One-time permissions on the real registry store: several processes, and
// several threads, ask at the same moment; exactly one of them is granted.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/registry_store.h"
#include "port/platform.h"
#include "registry_test_support.h"
#include "utils/policy.h"

namespace {

const BYTE kLocal[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
const BYTE kRemote[6] = {0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
const wchar_t* const kDeviceKey = L"SOFTWARE\\Vorlane\\Pelmora\\Devices\\00:11:22:33:44:55\\66:77:88:99:AA:BB";
constexpr WORD kCode = 0x1105;

// The Linux adapters on the test's own store files, installed for this process.
struct StorePlatform {
  StorePlatform(const std::string& machine, const std::string& user) : registry(machine, user), debugOutput("stderr") {
    utils::port::Platform record;
    record.registry = &registry;
    record.debugOutput = &debugOutput;
    record.clock = &clock;
    utils::port::installPlatform(record);
  }
  utils::linuxport::RegistryStore registry;
  utils::linuxport::LinuxDebugOutput debugOutput;
  utils::linuxport::LinuxClock clock;
};

class PermissionRaceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }

  // Writes the one-time permission with a store of its own, closed again so that
  // no connection is inherited by the children.
  void grantOnce() {
    utils::linuxport::RegistryStore store(machine(), user());
    HKEY key = nullptr;
    ASSERT_EQ(0u, store.createKey(HKEY_CURRENT_USER, kDeviceKey, KEY_ALL_ACCESS, &key, nullptr));
    ASSERT_EQ(0u, registry_test::setDword(store, key, L"1105", 1));
    store.closeKey(key);
  }
  bool permissionLeft() {
    utils::linuxport::RegistryStore store(machine(), user());
    HKEY key = nullptr;
    if (store.openKey(HKEY_CURRENT_USER, kDeviceKey, KEY_READ, &key) != 0) return false;
    const DWORD error = store.queryValue(key, L"1105", nullptr, nullptr, nullptr);
    store.closeKey(key);
    return error == 0;
  }
  std::string machine() const { return folder_.file("machine.db"); }
  std::string user() const { return folder_.file("user.db"); }

  registry_test::TempFolder folder_;
};

TEST_F(PermissionRaceTest, ProcessesRacingForOnePermission) {
  constexpr int kProcesses = 6;
  constexpr int kRounds = 10;
  for (int round = 0; round < kRounds; ++round) {
    grantOnce();
    int gate[2];
    ASSERT_EQ(0, ::pipe(gate));
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        ::close(gate[1]);
        StorePlatform platform(machine(), user());
        IsRequestPermitted(kLocal, kRemote, 0x1);  // warm: files open, statements ready
        char byte;
        while (::read(gate[0], &byte, 1) > 0) {
        }
        ::_exit(IsRequestPermitted(kLocal, kRemote, kCode) ? 10 : 11);
      }
      children.push_back(pid);
    }
    ::close(gate[0]);
    ::usleep(50000);  // let every child reach the gate
    ::close(gate[1]);
    int granted = 0;
    for (pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
      ASSERT_TRUE(WIFEXITED(status));
      const int code = WEXITSTATUS(status);
      ASSERT_TRUE(code == 10 || code == 11) << "child exit " << code;
      granted += code == 10 ? 1 : 0;
    }
    EXPECT_EQ(1, granted) << "round " << round;
    EXPECT_FALSE(permissionLeft());
  }
}

TEST_F(PermissionRaceTest, ThreadsRacingForOnePermission) {
  constexpr int kThreads = 6;
  StorePlatform platform(machine(), user());
  for (int round = 0; round < 20; ++round) {
    grantOnce();
    std::atomic<int> ready{0};
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        ready.fetch_add(1);
        while (ready.load() < kThreads) std::this_thread::yield();
        if (IsRequestPermitted(kLocal, kRemote, kCode)) granted.fetch_add(1);
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(1, granted.load()) << "round " << round;
  }
  EXPECT_EQ(0u, platform.registry.openHandles());
}

}  // namespace
