// Real components for the radio integration tests: child processes that are
// always ended, a private system bus with the BlueZ mock, and vrlbusd with its
// emulator, each in a temporary folder that is removed afterwards.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "registry_test_support.h"

namespace utils::test {

// Exits with 77 (skipped) when program is not there.
void requireProgram(const std::string& program);

using TempFolder = registry_test::TempFolder;

// A child process with extra environment variables and its output in a file.
// Ended with SIGTERM (SIGKILL after 3 s) when destroyed.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
               const std::string& outputFile);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running();
  pid_t pid() const { return pid_; }
  // Sends SIGTERM and waits; returns the exit status (or -1).
  int stop();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs a program to its end; returns its exit status, with its output in *output.
int runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
               std::string* output = nullptr);

// Waits up to timeoutMs for a Unix socket at path to accept a connection.
bool waitForSocket(const std::string& path, int timeoutMs);

// The whole content of a file ("" when missing).
inline std::string readFileText(const std::string& path) { return registry_test::readFile(path); }

// How often what occurs in text.
size_t countOf(const std::string& text, const std::string& what);

// Checks condition every 10 ms until it holds or timeoutMs have passed, for
// what nothing reports (a file's text, a counter); true when it held.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000);
inline bool waitForText(const std::string& path, const std::string& text, int timeoutMs = 20000) {
  return waitUntil([&] { return readFileText(path).find(text) != std::string::npos; }, timeoutMs);
}

// What a library callback records from the library's threads, in order.
template <class Call>
class CallLog {
 public:
  void add(Call call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    arrived_.notify_all();
  }
  // Waits up to timeoutMs for a call that matches; returns the calls up to and
  // including it (empty when none came) and leaves the later ones.
  template <class Matches>
  std::vector<Call> waitFor(Matches matches, int timeoutMs) {
    std::unique_lock lock(mutex_);
    std::vector<Call> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      while (!calls_.empty()) {
        seen.push_back(calls_.front());
        calls_.erase(calls_.begin());
        if (matches(seen.back())) return seen;
      }
      if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout && calls_.empty()) return {};
    }
  }
  std::vector<Call> take() {
    std::lock_guard lock(mutex_);
    std::vector<Call> calls;
    calls.swap(calls_);
    return calls;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Call> calls_;
};

// vrlbusd on a socket in its own folder, with its log kept: on its emulated
// controller and verbose, or (emulate false) quiet on the controller that
// extraArgs name.
class EmulatedBusDaemon {
 public:
  explicit EmulatedBusDaemon(const std::vector<std::string>& extraArgs = {}, bool emulate = true);
  const std::string& socketPath() const { return socket_; }
  std::string log() const { return readFileText(folder_.path() + "/vrlbusd.log"); }
  ChildProcess& process() { return *process_; }

 private:
  TempFolder folder_;
  std::string socket_;
  std::unique_ptr<ChildProcess> process_;
};

// A private system bus (dbus-daemon) with python3-dbusmock's bluez5 template.
class MockBluez {
 public:
  MockBluez();
  const std::string& address() const { return address_; }
  std::map<std::string, std::string> environment() const { return {{"DBUS_SYSTEM_BUS_ADDRESS", address_}}; }
  // Calls an org.bluez.Mock method with string (and int) arguments; true on success.
  bool mock(const std::string& method, const std::vector<std::string>& typedArguments);
  // Sets a property of an object of org.bluez (variant in GVariant text, such as
  // "<['0000110x-...']>") with gdbus.
  bool setProperty(const std::string& path, const std::string& interface, const std::string& name,
                   const std::string& variant);

  // python3-dbusmock's networkmanager template on the same bus: started (true
  // once it owns its name) and stopped, which takes NetworkManager off the bus.
  bool startNetworkManager();
  void stopNetworkManager();
  // gdbus call on the bus: destination, object, interface.method and arguments
  // in GVariant text; true on success, with the answer in *output.
  bool call(const std::string& destination, const std::string& path, const std::string& method,
            const std::vector<std::string>& arguments, std::string* output = nullptr);

 private:
  bool waitForName(const std::string& name);

  TempFolder folder_;
  std::string address_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> bluez_;
  std::unique_ptr<ChildProcess> networkManager_;
};

// Where the built vrlbusd is (set by the build).
std::string vrlbusdPath();

// Exits with 77 (skipped) without dbus-daemon, dbus-send, gdbus or python3-dbusmock.
void requireMockBluezTools();

// What the suites on the mocked BlueZ share: a scratch folder, the mock on a
// private system bus (with adapter hci0 "Test Radio" when asked), and this
// process's library pointed at them, with its registry store and trace file in
// the folder (level 4 when asked: else no trace settings at all) and its bus
// daemon at busSocket (unless empty).
class BluezSession {
 public:
  explicit BluezSession(const std::string& busSocket, bool withAdapter = true, bool traced = true);
  std::string debugLog() const { return folder.path() + "/debug.log"; }
  // Adds a device to hci0 by its address text ("11:22:33:44:55:01").
  bool addDevice(const std::string& address, const std::string& name, bool paired = false);
  bool connect(const std::string& address, bool connected = true);
  // Level-4 trace lines from now on (they are inherited by child processes).
  void trace();

 private:
  struct ToolCheck {
    ToolCheck() { requireMockBluezTools(); }
  } tools_;

 public:
  TempFolder folder;
  MockBluez bluez;
};

}  // namespace utils::test
