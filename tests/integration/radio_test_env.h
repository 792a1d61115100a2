// Real components for the radio integration tests: child processes that are
// always ended, a private system bus with the BlueZ mock, and vrlbusd with its
// emulator, each in a temporary folder that is removed afterwards.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diag/debug_settings.h"
#include "port/linux/linux_platform.h"
#include "registry_test_support.h"
#include "utils/registry.h"

extern char** environ;

namespace utils::test {

using TempFolder = registry_test::TempFolder;
using Environment = std::map<std::string, std::string>;

// The whole content of a file ("" when missing).
inline std::string readFileText(const std::string& path) { return registry_test::readFile(path); }

// How often what occurs in text.
inline size_t countOf(const std::string& text, const std::string& what) {
  size_t found = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
  return found;
}

// Checks condition every 10 ms until it holds or timeoutMs have passed, for
// what nothing reports (a file's text, a counter); true when it held.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline bool waitForText(const std::string& path, const std::string& text, int timeoutMs = 20000) {
  return waitUntil([&] { return readFileText(path).find(text) != std::string::npos; }, timeoutMs);
}

// Starts argv through env(1), which adds the extra variables to this process's,
// with standard input from /dev/null and both outputs appended to outputFile.
inline pid_t spawnProgram(const std::vector<std::string>& argv, const Environment& environment,
                          const std::string& outputFile) {
  std::vector<std::string> args{"/usr/bin/env"};
  for (const auto& [name, value] : environment) args.push_back(name + "=" + value);
  args.insert(args.end(), argv.begin(), argv.end());
  std::vector<char*> pointers;
  for (auto& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// A child process with extra environment variables and its output in a file.
// Ended with SIGTERM (SIGKILL after 3 s) when destroyed.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const Environment& environment, const std::string& outputFile)
      : pid_(spawnProgram(argv, environment, outputFile)) {}
  ~ChildProcess() { stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() {
    int status = 0;
    if (pid_ <= 0) return false;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    status_ = status;
    pid_ = -1;
    return false;
  }
  pid_t pid() const { return pid_; }
  // Sends SIGTERM and waits; returns the exit status (or -1).
  int stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      if (!waitUntil([this] { return !running(); }, 3000)) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status_, 0);
        pid_ = -1;
      }
    }
    return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Runs a program to its end; returns its exit status, with its output in *output.
inline int runProgram(const std::vector<std::string>& argv, const Environment& environment,
                      std::string* output = nullptr) {
  TempFolder folder;
  const pid_t pid = spawnProgram(argv, environment, folder.file("output"));
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  if (output != nullptr) *output = readFileText(folder.file("output"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Exits with 77 (skipped) when program is not there.
inline void requireProgram(const std::string& program) {
  if (program.find('/') != std::string::npos ? ::access(program.c_str(), X_OK) == 0
                                             : runProgram({"sh", "-c", "command -v " + program}, {}) == 0) {
    return;
  }
  std::fprintf(stderr, "skipped: %s is not available\n", program.c_str());
  std::exit(77);
}

// The address of the Unix socket at path.
inline sockaddr_un unixAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  return address;
}

// Waits up to timeoutMs for a Unix socket at path to accept a connection.
inline bool waitForSocket(const std::string& path, int timeoutMs) {
  const sockaddr_un address = unixAddress(path);
  return waitUntil(
      [&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
      },
      timeoutMs);
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
    return std::exchange(calls_, {});
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Call> calls_;
};

// Where the built vrlbusd is (set by the build).
inline std::string vrlbusdPath() { return UTILS_VRLBUSD_PATH; }

// vrlbusd on a socket in its own folder, with its log kept: on its emulated
// controller and verbose, or (emulate false) quiet on the controller that
// extraArgs name.
class EmulatedBusDaemon {
 public:
  explicit EmulatedBusDaemon(const std::vector<std::string>& extraArgs = {}, bool emulate = true)
      : socket_(folder_.file("bus.sock")) {
    std::vector<std::string> argv{vrlbusdPath(), "--emulate", "--verbose", "--socket", socket_};
    if (!emulate) argv.erase(argv.begin() + 1, argv.begin() + 3);
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<ChildProcess>(argv, Environment{}, folder_.file("vrlbusd.log"));
    if (!waitForSocket(socket_, 5000)) std::fprintf(stderr, "vrlbusd did not start:\n%s\n", log().c_str());
  }
  const std::string& socketPath() const { return socket_; }
  std::string log() const { return readFileText(folder_.file("vrlbusd.log")); }
  ChildProcess& process() { return *process_; }

 private:
  TempFolder folder_;
  std::string socket_;
  std::unique_ptr<ChildProcess> process_;
};

// A private system bus (dbus-daemon) with python3-dbusmock's bluez5 template.
class MockBluez {
 public:
  MockBluez() : address_("unix:path=" + folder_.file("system_bus_socket")) {
    const std::string config = folder_.file("system.conf");
    registry_test::writeFile(config,
                             "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>system</type><listen>" +
                                 address_ +
                                 "</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                                 "<allow send_type=\"method_call\"/><allow send_type=\"signal\"/>"
                                 "<allow send_requested_reply=\"true\"/><allow receive_type=\"method_call\"/>"
                                 "<allow receive_type=\"signal\"/><allow receive_requested_reply=\"true\"/>"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                 "</policy></busconfig>\n");
    bus_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config}, Environment{},
        folder_.file("dbus.log"));
    if (!waitForSocket(folder_.file("system_bus_socket"), 5000)) return;
    bluez_ = dbusmock("bluez5", "org.bluez");
  }
  const std::string& address() const { return address_; }
  Environment environment() const { return {{"DBUS_SYSTEM_BUS_ADDRESS", address_}}; }
  // Calls an org.bluez.Mock method with string (and int) arguments; true on success.
  bool mock(const std::string& method, const std::vector<std::string>& typedArguments) {
    std::vector<std::string> argv{"dbus-send",        "--system",   "--print-reply",
                                  "--dest=org.bluez", "/org/bluez", "org.bluez.Mock." + method};
    argv.insert(argv.end(), typedArguments.begin(), typedArguments.end());
    return runProgram(argv, environment()) == 0;
  }
  // Sets a property of an object of org.bluez (variant in GVariant text, such as
  // "<['0000110x-...']>").
  bool setProperty(const std::string& path, const std::string& interface, const std::string& name,
                   const std::string& variant) {
    return call("org.bluez", path, "org.freedesktop.DBus.Properties.Set", {interface, name, variant});
  }

  // python3-dbusmock's networkmanager template on the same bus: started (true
  // once it owns its name) and stopped, which takes NetworkManager off the bus.
  bool startNetworkManager() {
    networkManager_ = dbusmock("networkmanager", "org.freedesktop.NetworkManager");
    return networkManager_ != nullptr;
  }
  void stopNetworkManager() { networkManager_.reset(); }
  // gdbus call on the bus: destination, object, interface.method and arguments
  // in GVariant text; true on success, with the answer in *output.
  bool call(const std::string& destination, const std::string& path, const std::string& method,
            const std::vector<std::string>& arguments, std::string* output = nullptr) {
    std::vector<std::string> argv{"gdbus",         "call", "--system", "--dest", destination,
                                  "--object-path", path,   "--method", method};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv, environment(), output) == 0;
  }

 private:
  // A dbusmock template on the bus, once it owns name (null when it did not).
  std::unique_ptr<ChildProcess> dbusmock(const std::string& templateName, const std::string& name) {
    auto process = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", templateName},
        environment(), folder_.file(templateName + ".log"));
    const bool owned = waitUntil(
        [&] {
          std::string output;
          runProgram({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                      "org.freedesktop.DBus.NameHasOwner", "string:" + name},
                     environment(), &output);
          return output.find("boolean true") != std::string::npos;
        },
        10000);
    if (!owned) return nullptr;
    return process;
  }

  TempFolder folder_;
  std::string address_;
  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> bluez_;
  std::unique_ptr<ChildProcess> networkManager_;
};

// What the suites on the mocked BlueZ share: a scratch folder, the mock on a
// private system bus (with adapter hci0 "Test Radio" when asked), and this
// process's library pointed at them, with its registry store and trace file in
// the folder (level 4 when asked: else no trace settings at all) and its bus
// daemon at busSocket (unless empty).
class BluezSession {
 public:
  explicit BluezSession(const std::string& busSocket, bool withAdapter = true, bool traced = true) {
    if (withAdapter && !bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"})) {
      std::fprintf(stderr, "the mocked BlueZ did not take adapter hci0\n");
      std::abort();
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bluez.address().c_str(), 1);
    if (!busSocket.empty()) ::setenv("UTILS_BUS_SOCKET", busSocket.c_str(), 1);
    ::setenv("UTILS_REGISTRY_MACHINE", folder.file("machine.db").c_str(), 1);
    ::setenv("UTILS_REGISTRY_USER", folder.file("user.db").c_str(), 1);
    ::setenv("UTILS_DEBUG_OUTPUT", debugLog().c_str(), 1);
    linuxport::installNativePlatform();
    if (traced) trace();
  }
  std::string debugLog() const { return folder.file("debug.log"); }
  // Adds a device to hci0 by its address text ("11:22:33:44:55:01").
  bool addDevice(const std::string& address, const std::string& name, bool paired = false) {
    return bluez.mock("AddDevice", {"string:hci0", "string:" + address, "string:" + name}) &&
           (!paired || bluez.mock("PairDevice", {"string:hci0", "string:" + address, "uint32:5898764"}));
  }
  bool connect(const std::string& address, bool connected = true) {
    return bluez.mock(connected ? "ConnectDevice" : "DisconnectDevice", {"string:hci0", "string:" + address});
  }
  // Level-4 trace lines from now on (they are inherited by child processes).
  void trace() {
    SetRegisterDWORD(L"Software\\vorlane", L"LogDebug", 4, HKEY_LOCAL_MACHINE);
    diag::processAttach();
  }

 private:
  // Exits with 77 (skipped) without dbus-daemon, dbus-send, gdbus or python3-dbusmock.
  struct ToolCheck {
    ToolCheck() {
      for (const char* program : {"dbus-daemon", "dbus-send", "gdbus"}) requireProgram(program);
      if (runProgram({"/usr/bin/python3", "-c", "import dbusmock"}, {}) != 0) {
        std::fprintf(stderr, "skipped: python3-dbusmock is not installed\n");
        std::exit(77);
      }
    }
  } tools_;

 public:
  TempFolder folder;
  MockBluez bluez;
};

}  // namespace utils::test
