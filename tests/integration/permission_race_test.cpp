// One-time permissions on the real registry store: several processes, each
// with several threads, and then the threads of this process, ask at the same
// moment; exactly one of them is granted.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <vector>

#include "child_process.h"
#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/registry_store.h"
#include "port/platform.h"
#include "registry_test_support.h"
#include "unit/thread_race.h"
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

// How many of `count` threads of this process racing for the permission are
// granted it.
int racePermission(int count) {
  return utils::testing::raceThreads(count, [] { return IsRequestPermitted(kLocal, kRemote, kCode); });
}

TEST(PermissionRace, ProcessesAndThreadsRacingForOnePermission) {
  constexpr int kProcesses = 6;
  constexpr int kThreads = 2;
  registry_test::TempFolder folder;
  ASSERT_TRUE(folder.ok());
  const std::string machine = folder.file("machine.db");
  const std::string user = folder.file("user.db");
  // The permission's value, through a store of its own that is closed again so
  // that no connection is inherited by the children.
  const auto withDeviceKey = [&](const std::function<DWORD(utils::port::RegistryPort&, HKEY)>& use) {
    utils::linuxport::RegistryStore store(machine, user);
    utils::port::ScopedKey key(store);
    const DWORD error = store.createKey(HKEY_CURRENT_USER, kDeviceKey, KEY_ALL_ACCESS, key.out(), nullptr);
    return error != 0 ? error : use(store, key.get());
  };
  for (int round = 0; round < 10; ++round) {
    ASSERT_EQ(0u, withDeviceKey([](auto& store, HKEY key) { return registry_test::setDword(store, key, L"1105", 1); }));
    // Each child (forked while this process has no other thread) opens its
    // store and warms it (files open, statements ready), says so, waits at the
    // gate that opens for all at once, races with its threads and exits with
    // 10 + grants (50 more if a key stayed open).
    int gate[2];
    int ready[2];
    ASSERT_EQ(0, ::pipe(gate));
    ASSERT_EQ(0, ::pipe(ready));
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(gate[1]);
        StorePlatform platform(machine, user);
        // From the second round on, warm; in the first, the children also race
        // to make the machine file, which nothing has made yet.
        if (round > 0) IsRequestPermitted(kLocal, kRemote, 0x1);
        char byte = 'r';
        if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
        while (::read(gate[0], &byte, 1) > 0) {
        }
        const int granted = racePermission(kThreads);
        ::_exit(10 + granted + (platform.registry.openHandles() == 0 ? 0 : 50));
      }
      if (pid > 0) children.push_back(pid);
    }
    int waitingAtTheGate = 0;
    for (pollfd readable{ready[0], POLLIN, 0}; waitingAtTheGate < kProcesses; ++waitingAtTheGate) {
      char byte = 0;
      if (::poll(&readable, 1, 20000) != 1 || ::read(ready[0], &byte, 1) != 1) break;
    }
    for (int fd : {gate[0], gate[1], ready[0], ready[1]}) ::close(fd);
    int granted = 0;
    for (pid_t pid : children) {
      int status = -1;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(registry_test::exitedWith(status, 10) || registry_test::exitedWith(status, 11)) << status;
      granted += registry_test::exitedWith(status, 11) ? 1 : 0;
    }
    ASSERT_EQ(kProcesses, waitingAtTheGate);
    EXPECT_EQ(1, granted) << "round " << round;
    // Gone: taking it again finds nothing, as a process that lost the race does.
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), withDeviceKey([](auto& store, HKEY key) {
                const BYTE once[4] = {1, 0, 0, 0};
                return store.takeValue(key, L"1105", once, 4);
              }))
        << "round " << round;
  }
  // The threads of one process share its store, opened while another store of
  // the same process writes the permission.
  StorePlatform platform(machine, user);
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(0u, withDeviceKey([](auto& store, HKEY key) { return registry_test::setDword(store, key, L"1105", 1); }));
    EXPECT_EQ(1, racePermission(6)) << "round " << round;
  }
  // What another process stores is seen at once, whatever this one read before.
  EXPECT_FALSE(IsRequestPermitted(kLocal, kRemote, kCode));
  EXPECT_EQ(0, utils::testing::runChild([&] {
                 return static_cast<int>(withDeviceKey(
                     [](auto& store, HKEY key) { return registry_test::setDword(store, key, L"1105", 2); }));
               }).code);
  EXPECT_TRUE(IsRequestPermitted(kLocal, kRemote, kCode));
  EXPECT_EQ(0u, platform.registry.openHandles());
}

}  // namespace
