#include "radio_test_env.h"

#include "diag/debug_settings.h"
#include "port/linux/linux_platform.h"
#include "utils/registry.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace utils::test {
namespace {

// Starts argv through env(1), which adds the extra variables to this process's.
pid_t spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
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

}  // namespace

void requireProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    if (::access(program.c_str(), X_OK) == 0) return;
  } else if (runProgram({"sh", "-c", "command -v " + program}, {}) == 0) {
    return;
  }
  std::fprintf(stderr, "skipped: %s is not available\n", program.c_str());
  std::exit(77);
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                           const std::string& outputFile)
    : pid_(spawn(argv, environment, outputFile)) {}

ChildProcess::~ChildProcess() { stop(); }

bool ChildProcess::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return true;
}

int ChildProcess::stop() {
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

int runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
               std::string* output) {
  TempFolder folder;
  const std::string file = folder.path() + "/output";
  const pid_t pid = spawn(argv, environment, file);
  if (pid <= 0) return -1;
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (output != nullptr) *output = readFileText(file);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool waitForSocket(const std::string& path, int timeoutMs) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    if (connected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t found = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++found;
  return found;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string vrlbusdPath() { return UTILS_VRLBUSD_PATH; }

void requireMockBluezTools() {
  for (const char* program : {"dbus-daemon", "dbus-send", "gdbus"}) requireProgram(program);
  if (runProgram({"/usr/bin/python3", "-c", "import dbusmock"}, {}) != 0) {
    std::fprintf(stderr, "skipped: python3-dbusmock is not installed\n");
    std::exit(77);
  }
}

BluezSession::BluezSession(const std::string& busSocket, bool withAdapter, bool traced) {
  if (withAdapter && !bluez.mock("AddAdapter", {"string:hci0", "string:Test Radio"})) {
    std::fprintf(stderr, "the mocked BlueZ did not take adapter hci0\n");
    std::abort();
  }
  ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bluez.address().c_str(), 1);
  if (!busSocket.empty()) ::setenv("UTILS_BUS_SOCKET", busSocket.c_str(), 1);
  ::setenv("UTILS_REGISTRY_MACHINE", (folder.path() + "/machine.db").c_str(), 1);
  ::setenv("UTILS_REGISTRY_USER", (folder.path() + "/user.db").c_str(), 1);
  ::setenv("UTILS_DEBUG_OUTPUT", debugLog().c_str(), 1);
  linuxport::installNativePlatform();
  if (traced) trace();
}

void BluezSession::trace() {
  SetRegisterDWORD(L"Software\\vorlane", L"LogDebug", 4, HKEY_LOCAL_MACHINE);
  diag::processAttach();
}

bool BluezSession::addDevice(const std::string& address, const std::string& name, bool paired) {
  return bluez.mock("AddDevice", {"string:hci0", "string:" + address, "string:" + name}) &&
         (!paired || bluez.mock("PairDevice", {"string:hci0", "string:" + address, "uint32:5898764"}));
}

bool BluezSession::connect(const std::string& address, bool connected) {
  return bluez.mock(connected ? "ConnectDevice" : "DisconnectDevice", {"string:hci0", "string:" + address});
}

EmulatedBusDaemon::EmulatedBusDaemon(const std::vector<std::string>& extraArgs, bool emulate) {
  socket_ = folder_.path() + "/bus.sock";
  std::vector<std::string> argv{vrlbusdPath(), "--emulate", "--verbose", "--socket", socket_};
  if (!emulate) argv.erase(argv.begin() + 1, argv.begin() + 3);
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  process_ =
      std::make_unique<ChildProcess>(argv, std::map<std::string, std::string>{}, folder_.path() + "/vrlbusd.log");
  if (!waitForSocket(socket_, 5000)) std::fprintf(stderr, "vrlbusd did not start:\n%s\n", log().c_str());
}

MockBluez::MockBluez() {
  const std::string config = folder_.path() + "/system.conf";
  const std::string socket = folder_.path() + "/system_bus_socket";
  std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>system</type><listen>unix:path="
                        << socket
                        << "</listen><auth>EXTERNAL</auth>"
                           "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                           "<allow send_type=\"method_call\"/><allow send_type=\"signal\"/>"
                           "<allow send_requested_reply=\"true\"/><allow receive_type=\"method_call\"/>"
                           "<allow receive_type=\"signal\"/><allow receive_requested_reply=\"true\"/>"
                           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                           "</policy></busconfig>\n";
  address_ = "unix:path=" + socket;
  bus_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config},
      std::map<std::string, std::string>{}, folder_.path() + "/dbus.log");
  if (!waitForSocket(socket, 5000)) return;
  bluez_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "bluez5"}, environment(),
      folder_.path() + "/dbusmock.log");
  // Ready once org.bluez has an owner.
  waitForName("org.bluez");
}

bool MockBluez::waitForName(const std::string& name) {
  return waitUntil(
      [&] {
        std::string output;
        runProgram({"dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                    "org.freedesktop.DBus.NameHasOwner", "string:" + name},
                   environment(), &output);
        return output.find("boolean true") != std::string::npos;
      },
      10000);
}

bool MockBluez::startNetworkManager() {
  networkManager_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "networkmanager"},
      environment(), folder_.path() + "/networkmanager.log");
  return waitForName("org.freedesktop.NetworkManager");
}

void MockBluez::stopNetworkManager() { networkManager_.reset(); }

bool MockBluez::call(const std::string& destination, const std::string& path, const std::string& method,
                     const std::vector<std::string>& arguments, std::string* output) {
  std::vector<std::string> argv{"gdbus",         "call", "--system", "--dest", destination,
                                "--object-path", path,   "--method", method};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return runProgram(argv, environment(), output) == 0;
}

bool MockBluez::mock(const std::string& method, const std::vector<std::string>& typedArguments) {
  std::vector<std::string> argv{"dbus-send",        "--system",   "--print-reply",
                                "--dest=org.bluez", "/org/bluez", "org.bluez.Mock." + method};
  argv.insert(argv.end(), typedArguments.begin(), typedArguments.end());
  return runProgram(argv, environment()) == 0;
}

bool MockBluez::setProperty(const std::string& path, const std::string& interface, const std::string& name,
                            const std::string& variant) {
  return runProgram({"gdbus", "call", "--system", "--dest", "org.bluez", "--object-path", path, "--method",
                     "org.freedesktop.DBus.Properties.Set", interface, name, variant},
                    environment()) == 0;
}

}  // namespace utils::test
