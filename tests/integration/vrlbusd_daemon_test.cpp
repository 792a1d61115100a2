// vrlbusd --emulate as a real process on its socket: the protocol's requests and
// answers, vendor events to subscribers, and clients that break the protocol.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <thread>

#include "port/linux/bus_client.h"
#include "port/linux/bus_events.h"
#include "port/linux/bus_socket.h"
#include "radio_test_env.h"

namespace utils::test {
namespace {

namespace busproto = utils::busproto;
using linuxport::BusSocket;
using Bytes = std::vector<uint8_t>;

constexpr DWORD kVendorCode = 0x9C4024C8;

// Builds a vendor command request for opcode without parameters.
Bytes commandFor(uint16_t opcode) {
  return Bytes{0x1D, 0, 0, 0, 0, 1, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8), 1, 0};
}

class VrlbusdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { requireProgram(vrlbusdPath()); }

  std::unique_ptr<BusSocket> connect() {
    std::unique_ptr<BusSocket> socket;
    EXPECT_EQ(0u, BusSocket::connect(daemon_.socketPath(), &socket));
    return socket;
  }

  busproto::IoControlReply ioControl(BusSocket& socket, DWORD code, const Bytes& input, uint32_t outputSize = 1024) {
    busproto::Frame reply;
    EXPECT_EQ(0u, socket.exchange(busproto::Type::kIoControl, busproto::encodeIoControl({code, outputSize, input}),
                                  busproto::Type::kIoControlReply, &reply, 20000));
    auto decoded = busproto::decodeIoControlReply(reply.body, outputSize);
    EXPECT_TRUE(decoded.has_value());
    return decoded.value_or(busproto::IoControlReply{0xFFFFFFFF, {}});
  }

  // A raw connection for clients that break the protocol or say nothing.
  int rawConnect() { return rawConnect(daemon_.socketPath()); }
  static int rawConnect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(0, ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
    return fd;
  }

  // True when the daemon closes fd within 3 s.
  static bool closedByDaemon(int fd) {
    timeval limit{3, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    uint8_t byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, 0);
    ::close(fd);
    return n == 0;
  }

  // The daemon still answers a new client.
  void stillServes() {
    auto socket = connect();
    ASSERT_TRUE(socket);
    const auto reply = ioControl(*socket, 0x12345678, {});
    EXPECT_EQ(1u, reply.error) << "an unknown code is ERROR_INVALID_FUNCTION";
  }

  EmulatedBusDaemon daemon_{{"--manufacturer", "0x1D", "--lmp-subversion", "0x2209", "--frame-timeout", "300"}};
};

// The request logic itself is tested in unit_vrlbusd: here what goes through
// the socket and the real peer credentials.
TEST_F(VrlbusdTest, RequestsTravelTheSocketAndVendorEventsReachSubscribers) {
  ::setenv("UTILS_BUS_SOCKET", daemon_.socketPath().c_str(), 1);
  std::unique_ptr<linuxport::BusEventSubscription> events;
  ASSERT_EQ(0u, linuxport::BusEventSubscription::open(&events));
  ::unsetenv("UTILS_BUS_SOCKET");
  auto socket = connect();
  const Bytes command{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA};
  const auto reply = ioControl(*socket, kVendorCode, command);
  EXPECT_EQ(0u, reply.error);
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x59, 0xFC, 0}), reply.output);
  std::vector<BYTE> event;
  ASSERT_EQ(0u, events->wait(&event, 3000));
  const auto record = linuxport::vendorEventRecordData(event);
  ASSERT_EQ(13u + 10u, record.size());
  EXPECT_EQ((Bytes{9, 0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}), Bytes(record.begin() + 13, record.end() - 1));

  Bytes paired(2092, 0);
  paired[0] = 10;
  paired[4] = 3;
  EXPECT_EQ(0u, ioControl(*socket, 0x9C402644, paired, 32).error);
  busproto::Frame recent;
  ASSERT_EQ(0u, socket->exchange(busproto::Type::kRecentRequests, {}, busproto::Type::kRecentReply, &recent, 5000));
  ASSERT_GE(recent.body.size(), 4u + 8u + 2092u);
  EXPECT_EQ(2u, busproto::getU32(recent.body.data()));
  EXPECT_EQ(paired, Bytes(recent.body.end() - 2092, recent.body.end()));
  busproto::Frame version;
  ASSERT_EQ(0u,
            socket->exchange(busproto::Type::kControllerVersion, {}, busproto::Type::kVersionReply, &version, 5000));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0x0B, 0x00, 0x01, 0x0B, 0x1D, 0x00, 0x09, 0x22}), version.body);

  // A refused opcode is logged with who asked, from the socket's credentials;
  // a request too short for a vendor command is logged without an opcode.
  EXPECT_EQ(5u, ioControl(*socket, kVendorCode, commandFor(0x0C03)).error);
  EXPECT_EQ(87u, ioControl(*socket, kVendorCode, {1, 2, 3}).error);
  const std::string log = daemon_.log();
  const std::string who = "(uid " + std::to_string(::getuid()) + ", pid " + std::to_string(::getpid()) + ")";
  EXPECT_NE(std::string::npos, log.find(who + ": HCI opcode 0x0C03 refused")) << log;
  EXPECT_NE(std::string::npos, log.find(who + ": ioctl 0x9C4024C8 HCI 0xFC59")) << log;
  EXPECT_NE(std::string::npos, log.find("paired device count 3")) << log;
}

TEST_F(VrlbusdTest, ClientsThatBreakTheProtocolAreDroppedAndOthersServed) {
  auto bystander = connect();  // connected throughout, served at the end

  // An oversized length, a zero length, an unknown frame type, an I/O control
  // body too short for its header and one with an output size out of bounds;
  // payloads that do not fit their type: a hello without its version, a
  // controller version request, a recent requests request and a subscribe
  // request with bytes they do not take.
  for (const Bytes& frame :
       {Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0x02}, Bytes{0, 0, 0, 0}, Bytes{1, 0, 0, 0, 0x7E},
        Bytes{4, 0, 0, 0, 0x02, 1, 2, 3}, Bytes{9, 0, 0, 0, 0x02, 0xC8, 0x24, 0x40, 0x9C, 0, 0, 0, 0x10},
        Bytes{1, 0, 0, 0, 0x01}, Bytes{3, 0, 0, 0, 0x04, 0, 0}, Bytes{2, 0, 0, 0, 0x05, 9}, Bytes{2, 0, 0, 0, 0x03, 0},
        Bytes{9, 0, 0, 0, 0x01, 1, 0, 0, 0, 1, 0, 0, 0}}) {
    const int fd = rawConnect();
    ASSERT_EQ(static_cast<ssize_t>(frame.size()), ::send(fd, frame.data(), frame.size(), 0));
    EXPECT_TRUE(closedByDaemon(fd)) << ::testing::PrintToString(frame);
  }
  // Gone mid-frame.
  int fd = rawConnect();
  const uint8_t half[] = {20, 0, 0, 0, 0x02, 1, 2};
  ASSERT_EQ(7, ::send(fd, half, sizeof half, 0));
  ::close(fd);
  // Stalled mid-frame: dropped after the frame timeout.
  fd = rawConnect();
  ASSERT_EQ(7, ::send(fd, half, sizeof half, 0));
  EXPECT_TRUE(closedByDaemon(fd));

  stillServes();
  const auto reply = ioControl(*bystander, 0x12345678, {});
  EXPECT_EQ(1u, reply.error);
  EXPECT_TRUE(daemon_.process().running());
  const std::string log = daemon_.log();
  for (const char* line :
       {"out of bounds, dropped", "unknown request type", "malformed I/O control request", "malformed hello (0 bytes)",
        "malformed hello (8 bytes)", "malformed controller version request (2 bytes)",
        "malformed recent requests request (1 bytes)", "malformed subscribe request (1 bytes)",
        "disconnected mid-frame (7 bytes), dropped", "frame left incomplete, dropped"}) {
    EXPECT_NE(std::string::npos, log.find(line)) << line << " in\n" << log;
  }
}

TEST_F(VrlbusdTest, AnAdministratorAllowsMoreOpcodesByHexOrDecimalValue) {
  EmulatedBusDaemon allowing({"--allow-opcode", "0x0C03", "--allow-opcode", "6150"});
  std::unique_ptr<BusSocket> other;
  ASSERT_EQ(0u, BusSocket::connect(allowing.socketPath(), &other));
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x03, 0x0C, 1}), ioControl(*other, kVendorCode, commandFor(0x0C03)).output);
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x06, 0x18, 1}), ioControl(*other, kVendorCode, commandFor(0x1806)).output);
  TempFolder folder;
  for (const char* bad : {"0x10000", "-1", "abc", "", "0x0C03x"}) {
    std::string output;
    EXPECT_EQ(2, runProgram({vrlbusdPath(), "--emulate", "--socket", folder.path() + "/s", "--allow-opcode", bad}, {},
                            &output))
        << bad;
  }
}

// The resident memory of a process in KiB.
long residentKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Sends all of bytes on a blocking socket.
bool sendAll(int fd, const Bytes& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

TEST_F(VrlbusdTest, AClientThatDoesNotReadIsNotReadOnAndStallsNobody) {
  // Each recent-requests answer repeats this client's 8 KiB request: a burst
  // of small requests asks for far more than it sends.
  const int hostile = rawConnect();
  Bytes burst;
  busproto::appendFrame(burst, busproto::Type::kIoControl, busproto::encodeIoControl({0x1234, 0, Bytes(8192, 0x5A)}));
  for (int i = 0; i < 20000; ++i) busproto::appendFrame(burst, busproto::Type::kRecentRequests, {});
  ASSERT_TRUE(sendAll(hostile, burst));
  // Wait until the daemon has answered what the socket holds.
  int unread = 0;
  EXPECT_TRUE(waitUntil([&] { return ::ioctl(hostile, FIONREAD, &unread) == 0 && unread >= 150000; }, 30000))
      << "the daemon answers until the socket is full: " << unread;
  stillServes();
  EXPECT_LT(residentKiB(daemon_.process().pid()), 32 * 1024) << "answers are not piled up without bound";
  ::close(hostile);
  stillServes();
}

TEST_F(VrlbusdTest, IdleConnectionsTimeOutAndMakeWaySoTheyCannotLockOthersOut) {
  EmulatedBusDaemon idle({"--idle-timeout", "3000"});
  std::unique_ptr<BusSocket> talker, listener;
  busproto::Frame reply;
  const Bytes hello{1, 0, 0, 0};
  // Those that talk or listen have their first frames in their sockets before
  // the daemon can take the connections (it is stopped meanwhile), so they come
  // in time however late either side runs.
  ASSERT_EQ(0, ::kill(idle.process().pid(), SIGSTOP));
  ASSERT_EQ(0u, BusSocket::connect(idle.socketPath(), &talker));
  ASSERT_EQ(0u, talker->send(busproto::Type::kHello, hello, 5000));
  ASSERT_EQ(0u, BusSocket::connect(idle.socketPath(), &listener));
  ASSERT_EQ(0u, listener->send(busproto::Type::kSubscribe, {}, 5000));
  ASSERT_EQ(0, ::kill(idle.process().pid(), SIGCONT));
  ASSERT_EQ(0u, talker->receive(&reply, 20000));
  EXPECT_EQ(busproto::Type::kHelloReply, reply.type);
  ASSERT_EQ(0u, listener->receive(&reply, 20000));
  EXPECT_EQ(busproto::Type::kSubscribed, reply.type);

  // A connection that never asks anything is closed; the library's handle
  // opened long before its first request connects again.
  const int silent = rawConnect(idle.socketPath());
  ::setenv("UTILS_BUS_SOCKET", idle.socketPath().c_str(), 1);
  linuxport::LinuxBus bus;
  port::BusInterface found;
  ASSERT_EQ(0u, bus.findFirstInterface(&found));
  HANDLE handle = nullptr;
  ASSERT_EQ(0u, bus.open(found.path.c_str(), &handle));
  ::unsetenv("UTILS_BUS_SOCKET");
  // Both dropped (the interface lookup's own probe closes at once).
  const auto dropped = [&idle] { return countOf(idle.log(), "sent no request, dropped"); };
  waitUntil([&] { return dropped() >= 2; }, 30000);
  EXPECT_EQ(2u, dropped()) << idle.log();
  EXPECT_TRUE(closedByDaemon(silent));
  BYTE output[64];
  const Bytes command = commandFor(0xFC59);
  DWORD returned = 0;
  EXPECT_EQ(0u, bus.ioControl(handle, kVendorCode, command.data(), static_cast<DWORD>(command.size()), output,
                              sizeof output, &returned));
  EXPECT_EQ(6u, returned);
  EXPECT_EQ(0u, bus.close(handle));
  // Those that asked, or listen, stay.
  EXPECT_EQ(0u, talker->exchange(busproto::Type::kHello, hello, busproto::Type::kHelloReply, &reply, 20000));
  const Bytes signal{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  ASSERT_EQ(0u, talker->exchange(busproto::Type::kIoControl, busproto::encodeIoControl({kVendorCode, 64, signal}),
                                 busproto::Type::kIoControlReply, &reply, 20000));
  EXPECT_EQ(0u, listener->receive(&reply, 20000));
  EXPECT_EQ(busproto::Type::kVendorEvent, reply.type);

  // 70 connections that say nothing (more than every place there is) do not
  // keep a client out. Their daemon waits an hour before it calls anyone idle,
  // so every place is still taken when the newcomer comes.
  EmulatedBusDaemon crowded({"--idle-timeout", "3600000"});
  std::vector<int> crowd;
  for (int i = 0; i < 70; ++i) crowd.push_back(rawConnect(crowded.socketPath()));
  std::unique_ptr<BusSocket> newcomer;
  ASSERT_EQ(0u, BusSocket::connect(crowded.socketPath(), &newcomer));
  EXPECT_EQ(1u, ioControl(*newcomer, 0x12345678, {}).error) << "an unknown code is ERROR_INVALID_FUNCTION";
  for (int fd : crowd) ::close(fd);
  EXPECT_NE(std::string::npos, crowded.log().find("idle, made way for a new client, dropped")) << crowded.log();
}

TEST_F(VrlbusdTest, ASecondDaemonRefusesTheSocketAndAStaleSocketIsReplaced) {
  std::string output;
  EXPECT_EQ(1, runProgram({vrlbusdPath(), "--emulate", "--socket", daemon_.socketPath()}, {}, &output));
  EXPECT_NE(std::string::npos, output.find("another daemon listens")) << output;
  stillServes();

  TempFolder folder;
  const std::string stale = folder.path() + "/bus.sock";
  {
    // A socket file that nobody listens on any more.
    EmulatedBusDaemon first;
    ::unlink(first.socketPath().c_str());
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  ::close(fd);  // bound, never listened: connecting is refused
  ChildProcess second({vrlbusdPath(), "--emulate", "--socket", stale}, {}, folder.path() + "/log");
  EXPECT_TRUE(waitForSocket(stale, 5000)) << readFileText(folder.path() + "/log");
  EXPECT_EQ(0, second.stop());
  EXPECT_NE(0, ::access(stale.c_str(), F_OK)) << "the socket is removed on exit";
}

TEST_F(VrlbusdTest, TheSocketFolderIsCreatedAndTheModeHoldsUnderAStrictUmask) {
  TempFolder folder;
  const std::string socket = folder.path() + "/run/vrlbusd/bus.sock";
  const mode_t before = ::umask(077);
  ChildProcess daemon({vrlbusdPath(), "--emulate", "--socket", socket, "--socket-mode", "0660"}, {},
                      folder.path() + "/log");
  ::umask(before);
  ASSERT_TRUE(waitForSocket(socket, 5000)) << readFileText(folder.path() + "/log");
  struct stat status {};
  ASSERT_EQ(0, ::stat(socket.c_str(), &status));
  EXPECT_EQ(0660u, status.st_mode & 0777);
  ASSERT_EQ(0, ::stat((folder.path() + "/run/vrlbusd").c_str(), &status));
  EXPECT_EQ(0755u, status.st_mode & 0777) << "clients must reach the socket";
  // A file where the folder should be: a clear error, no daemon.
  std::string output;
  EXPECT_EQ(1, runProgram({vrlbusdPath(), "--emulate", "--socket", socket + "/x"}, {}, &output));
  EXPECT_NE(std::string::npos, output.find("Not a directory")) << output;
}

TEST_F(VrlbusdTest, ALookupAndTheRequestsOfItsHandleTakeOneConnection) {
  const auto connections = [this] { return countOf(daemon_.log(), ": connected"); };
  stillServes();  // the daemon has logged every earlier connection once it answers
  const size_t before = connections();
  ::setenv("UTILS_BUS_SOCKET", daemon_.socketPath().c_str(), 1);
  linuxport::LinuxBus bus;
  port::BusInterface found;
  ASSERT_EQ(0u, bus.findFirstInterface(&found));
  ::unsetenv("UTILS_BUS_SOCKET");
  HANDLE handle = nullptr;
  ASSERT_EQ(0u, bus.open(found.path.c_str(), &handle));
  const Bytes command = commandFor(0xFC59);
  BYTE output[64];
  DWORD returned = 0;
  for (int request = 0; request < 3; ++request) {
    EXPECT_EQ(0u, bus.ioControl(handle, kVendorCode, command.data(), static_cast<DWORD>(command.size()), output,
                                sizeof output, &returned));
  }
  EXPECT_EQ(0u, bus.close(handle));
  stillServes();
  EXPECT_EQ(before + 2, connections()) << "one for the lookup and its handle, one to check the daemon serves\n"
                                       << daemon_.log();
}

TEST_F(VrlbusdTest, WithoutEmulationAMissingControllerFailsCleanly) {
  std::string output;
  TempFolder folder;
  const int status = runProgram({vrlbusdPath(), "--hci", "0", "--socket", folder.path() + "/s"}, {}, &output);
  if (output.find("no controller") == std::string::npos) GTEST_SKIP() << "this machine has a controller";
  EXPECT_EQ(1, status);
  EXPECT_NE(0, ::access((folder.path() + "/s").c_str(), F_OK));
}

}  // namespace
}  // namespace utils::test
