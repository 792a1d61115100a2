// vrlbusd --emulate as a real process on its socket: the protocol's requests and
// answers, vendor events to subscribers, clients that break the protocol, its
// socket file and the command lines it refuses; its btsnoop recording of its HCI
// traffic, read back with the real btmon -r, and the capture request that starts
// and stops it: who may ask and which files it refuses.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>

#include "child_process.h"
#include "port/linux/bus_client.h"
#include "radio_test_env.h"
#include "vrlbusd_client.h"

namespace utils::test {
namespace {

class VrlbusdTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { requireProgram(vrlbusdPath()); }

  // The daemon still answers a new client: an unknown code is ERROR_INVALID_FUNCTION.
  static void stillServes(const std::string& path) {
    auto socket = connectBus(path);
    ASSERT_TRUE(socket);
    EXPECT_EQ(1u, ioControl(*socket, 0x12345678, {}).error);
  }

  // The library's bus lookup at path, a handle on it, and count vendor commands
  // through the handle once wait() returns.
  static void lookupAndSend(
      const std::string& path, int count, const std::function<void()>& wait = [] {}) {
    ::setenv("UTILS_BUS_SOCKET", path.c_str(), 1);
    linuxport::LinuxBus bus;
    port::BusInterface found;
    ASSERT_EQ(0u, bus.findFirstInterface(&found));
    ::unsetenv("UTILS_BUS_SOCKET");
    HANDLE handle = nullptr;
    ASSERT_EQ(0u, bus.open(found.path.c_str(), &handle));
    wait();
    const Bytes command = vendorCommand(0xFC59);
    BYTE output[64];
    DWORD returned = 0;
    for (int request = 0; request < count; ++request) {
      EXPECT_EQ(0u, bus.ioControl(handle, kVendorCode, command.data(), static_cast<DWORD>(command.size()), output,
                                  sizeof output, &returned));
      EXPECT_EQ(6u, returned);
    }
    EXPECT_EQ(0u, bus.close(handle));
  }

  EmulatedBusDaemon daemon_{{"--manufacturer", "0x1D", "--lmp-subversion", "0x2209", "--frame-timeout", "300",
                             "--allow-opcode", "0x0C03", "--allow-opcode", "6150"}};
};

// The request logic itself is tested in unit_vrlbusd, the version and paired
// count requests from the library in integration_bluez_radio: here what goes
// through the socket, the real peer credentials and the administrator's opcodes.
TEST_F(VrlbusdTest, RequestsTravelTheSocketAndVendorEventsReachSubscribers) {
  auto events = subscribeEvents(daemon_.socketPath());
  ASSERT_TRUE(events);
  auto socket = connectBus(daemon_.socketPath());
  const auto reply = ioControl(*socket, kVendorCode, vendorCommand(0xFC59, {0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(0u, reply.error);
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x59, 0xFC, 0}), reply.output);
  std::vector<BYTE> event;
  ASSERT_EQ(0u, events->wait(&event, 3000));
  const auto record = linuxport::vendorEventRecordData(event);
  ASSERT_EQ(13u + 10u, record.size());
  EXPECT_EQ((Bytes{9, 0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}), Bytes(record.begin() + 13, record.end() - 1));

  // Opcodes the administrator allowed, by hex or decimal value, reach the
  // (emulated) controller, which does not know them.
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x03, 0x0C, 1}), ioControl(*socket, kVendorCode, vendorCommand(0x0C03)).output);
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x06, 0x18, 1}), ioControl(*socket, kVendorCode, vendorCommand(0x1806)).output);
  // A refused opcode is logged with who asked, from the socket's credentials;
  // a request too short for a vendor command is logged without an opcode.
  EXPECT_EQ(5u, ioControl(*socket, kVendorCode, vendorCommand(0x0C04)).error);
  EXPECT_EQ(87u, ioControl(*socket, kVendorCode, {1, 2, 3}).error);
  const std::string log = daemon_.log();
  const std::string who = "(uid " + std::to_string(::getuid()) + ", pid " + std::to_string(::getpid()) + ")";
  EXPECT_NE(std::string::npos, log.find(who + ": HCI opcode 0x0C04 refused")) << log;
  EXPECT_NE(std::string::npos, log.find(who + ": ioctl 0x9C4024C8 HCI 0xFC59")) << log;

  // A lookup and the requests of its handle take one connection.
  const auto connections = [this] { return countOf(daemon_.log(), ": connected"); };
  const size_t before = connections();
  lookupAndSend(daemon_.socketPath(), 3);
  stillServes(daemon_.socketPath());  // the daemon has logged every earlier connection once it answers
  EXPECT_EQ(before + 2, connections()) << "one for the lookup and its handle, one to check the daemon serves\n" << log;
}

TEST_F(VrlbusdTest, ClientsThatBreakTheProtocolAreDroppedAndOthersServed) {
  auto bystander = connectBus(daemon_.socketPath());  // connected throughout, served at the end

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
    const int fd = rawConnect(daemon_.socketPath());
    ASSERT_EQ(static_cast<ssize_t>(frame.size()), ::send(fd, frame.data(), frame.size(), 0));
    EXPECT_TRUE(closedByDaemon(fd)) << ::testing::PrintToString(frame);
  }
  // Gone mid-frame; stalled mid-frame: dropped after the frame timeout.
  const uint8_t half[] = {20, 0, 0, 0, 0x02, 1, 2};
  for (const bool stays : {false, true}) {
    const int fd = rawConnect(daemon_.socketPath());
    ASSERT_EQ(7, ::send(fd, half, sizeof half, 0));
    if (stays) {
      EXPECT_TRUE(closedByDaemon(fd));
    } else {
      ::close(fd);
    }
  }

  stillServes(daemon_.socketPath());
  EXPECT_EQ(1u, ioControl(*bystander, 0x12345678, {}).error);
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

// The resident memory of a process in KiB.
long residentKiB(pid_t pid) {
  const std::string status = readFileText("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

TEST_F(VrlbusdTest, AClientThatDoesNotReadIsNotReadOnAndStallsNobody) {
  // Each recent-requests answer repeats this client's 8 KiB request: a burst
  // of small requests asks for far more than it sends.
  const int hostile = rawConnect(daemon_.socketPath());
  Bytes burst;
  busproto::appendFrame(burst, busproto::Type::kIoControl, busproto::encodeIoControl({0x1234, 0, Bytes(8192, 0x5A)}));
  for (int i = 0; i < 20000; ++i) busproto::appendFrame(burst, busproto::Type::kRecentRequests, {});
  for (size_t sent = 0; sent < burst.size();) {
    const ssize_t n = ::send(hostile, burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    sent += static_cast<size_t>(n);
  }
  // Wait until the daemon has answered what the socket holds.
  int unread = 0;
  EXPECT_TRUE(waitUntil([&] { return ::ioctl(hostile, FIONREAD, &unread) == 0 && unread >= 150000; }, 30000))
      << "the daemon answers until the socket is full: " << unread;
  stillServes(daemon_.socketPath());
  EXPECT_LT(residentKiB(daemon_.process().pid()), 32 * 1024) << "answers are not piled up without bound";
  ::close(hostile);
  stillServes(daemon_.socketPath());
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
  ASSERT_TRUE(talker = connectBus(idle.socketPath()));
  ASSERT_EQ(0u, talker->send(busproto::Type::kHello, hello, 5000));
  ASSERT_TRUE(listener = connectBus(idle.socketPath()));
  ASSERT_EQ(0u, listener->send(busproto::Type::kSubscribe, {}, 5000));
  ASSERT_EQ(0, ::kill(idle.process().pid(), SIGCONT));
  ASSERT_EQ(0u, talker->receive(&reply, 20000));
  EXPECT_EQ(busproto::Type::kHelloReply, reply.type);
  ASSERT_EQ(0u, listener->receive(&reply, 20000));
  EXPECT_EQ(busproto::Type::kSubscribed, reply.type);

  // A connection that never asks anything is closed; the library's handle
  // opened long before its first request connects again. Both are dropped
  // (the interface lookup's own probe closes at once).
  const int silent = rawConnect(idle.socketPath());
  const auto dropped = [&idle] { return countOf(idle.log(), "sent no request, dropped"); };
  lookupAndSend(idle.socketPath(), 1, [&] {
    waitUntil([&] { return dropped() >= 2; }, 30000);
    EXPECT_EQ(2u, dropped()) << idle.log();
    EXPECT_TRUE(closedByDaemon(silent));
  });
  // Those that asked, or listen, stay.
  EXPECT_FALSE(ask(*talker, busproto::Type::kHello, busproto::Type::kHelloReply, hello).empty());
  const Bytes signal{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  EXPECT_EQ(0u, ioControl(*talker, kVendorCode, signal, 64).error);
  EXPECT_EQ(0u, listener->receive(&reply, 20000));
  EXPECT_EQ(busproto::Type::kVendorEvent, reply.type);

  // 70 connections that say nothing (more than every place there is) do not
  // keep a client out. Their daemon waits an hour before it calls anyone idle,
  // so every place is still taken when the newcomer comes.
  EmulatedBusDaemon crowded({"--idle-timeout", "3600000"});
  std::vector<int> crowd;
  for (int i = 0; i < 70; ++i) crowd.push_back(rawConnect(crowded.socketPath()));
  stillServes(crowded.socketPath());
  for (int fd : crowd) ::close(fd);
  EXPECT_NE(std::string::npos, crowded.log().find("idle, made way for a new client, dropped")) << crowded.log();
}

TEST_F(VrlbusdTest, ItsSocketFolderIsMadeUnderAStrictUmaskAndAStaleSocketIsReplaced) {
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

  {
    // A daemon whose socket file someone else removed ends all the same.
    EmulatedBusDaemon first;
    ::unlink(first.socketPath().c_str());
  }
  // A socket file that nobody listens on any more: bound, never listened.
  const std::string stale = folder.path() + "/bus.sock";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un address = unixAddress(stale);
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address));
  ::close(fd);
  ChildProcess second({vrlbusdPath(), "--emulate", "--socket", stale}, {}, folder.path() + "/log");
  EXPECT_TRUE(waitForSocket(stale, 5000)) << readFileText(folder.path() + "/log");
  EXPECT_EQ(0, second.stop());
  EXPECT_NE(0, ::access(stale.c_str(), F_OK)) << "the socket is removed on exit";
}

TEST_F(VrlbusdTest, CommandLinesItRefusesWithAClearError) {
  TempFolder folder;
  const std::string file = folder.path() + "/file", link = folder.path() + "/link";
  ASSERT_TRUE(std::ofstream(file) << "keep me");
  ASSERT_EQ(0, ::symlink(file.c_str(), link.c_str()));
  const std::vector<std::string> emulated{vrlbusdPath(), "--emulate", "--socket", folder.path() + "/s"};
  struct Row {
    std::vector<std::string> args;  // after the emulated daemon's
    int code;
    std::string text;
  };
  std::vector<Row> rows{
      {{"--socket", daemon_.socketPath()}, 1, "another daemon listens"},
      {{"--socket", file + "/x"}, 1, "Not a directory"},
      {{"--btsnoop", link}, 1, "link: "},  // a recording file it cannot create
  };
  // Opcodes and buffer bounds (no smaller than the largest answer) out of range.
  for (const char* bad : {"0x10000", "-1", "abc", "", "0x0C03x"}) rows.push_back({{"--allow-opcode", bad}, 2, ""});
  for (const char* bad : {"131071", "0", "-1", "1M", "1073741825"}) rows.push_back({{"--client-buffer", bad}, 2, ""});
  for (const Row& row : rows) {
    std::vector<std::string> argv = emulated;
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    std::string output;
    EXPECT_EQ(row.code, runProgram(argv, {}, &output)) << row.args.back();
    EXPECT_NE(std::string::npos, output.find(row.text)) << row.args.back() << ": " << output;
  }
  EXPECT_EQ("keep me", readFileText(file));
  stillServes(daemon_.socketPath());

  // Without emulation and without a controller: a clean failure, no socket.
  std::string output;
  const int status = runProgram({vrlbusdPath(), "--hci", "0", "--socket", folder.path() + "/s"}, {}, &output);
  if (output.find("no controller") == std::string::npos) GTEST_SKIP() << "this machine has a controller";
  EXPECT_EQ(1, status);
  EXPECT_NE(0, ::access((folder.path() + "/s").c_str(), F_OK));
}

const Bytes kSignal{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA};

class VrlbusdBtsnoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (runProgram({"sh", "-c", "command -v btmon"}, {}) != 0) GTEST_SKIP() << "btmon is not installed";
  }

  // Sends a capture request (0 stop, 1 start with path); returns the error.
  static uint32_t capture(BusSocket& socket, uint8_t action, const std::string& path = "") {
    Bytes body{action};
    body.insert(body.end(), path.begin(), path.end());
    const Bytes reply = ask(socket, busproto::Type::kCapture, busproto::Type::kCaptureReply, body);
    return reply.size() == 4 ? busproto::getU32(reply.data()) : 0xFFFFFFFF;
  }

  static std::string btmon(const std::string& file) {
    std::string output;
    EXPECT_EQ(0, runProgram({"btmon", "-r", file}, {}, &output)) << output;
    return output;
  }

  TempFolder folder_;
};

TEST_F(VrlbusdBtsnoopTest, EveryCommandAndEventIsRecordedAsBtmonReadsIt) {
  const std::string first = folder_.path() + "/first.snoop";
  EmulatedBusDaemon daemon({"--btsnoop", first});
  auto socket = connectBus(daemon.socketPath());
  ASSERT_TRUE(socket);
  const auto unknown = [&socket] { ioControl(*socket, kVendorCode, vendorCommand(0xFC01), 64); };
  ioControl(*socket, kVendorCode, kSignal, 64);
  unknown();
  EXPECT_EQ(0u, versionError(*socket));
  EXPECT_EQ(0u, capture(*socket, 0));
  ioControl(*socket, kVendorCode, kSignal, 64);  // not recorded

  std::string listing = btmon(first);
  for (const auto& [count, line] : std::vector<std::pair<size_t, const char*>>{
           {1, "< HCI Command: Vendor (0x3f|0x0059) plen 7"},
           {1, "< HCI Command: Vendor (0x3f|0x0001) plen 1"},
           {1, "< HCI Command: Read Local Version Information (0x04|0x0001) plen 0"},
           {3, "> HCI Event: Command Complete (0x0e)"},
           {1, "> HCI Event: Vendor (0xff) plen 9"},
           {1, "Manufacturer: "}}) {
    EXPECT_EQ(count, countOf(listing, line)) << line << " in\n" << listing;
  }

  // Started again on request, into another file; the empty path means the
  // daemon's own file, which a new recording starts afresh.
  const std::string second = folder_.path() + "/second.snoop";
  for (const std::string& file : {second, first}) {
    EXPECT_EQ(0u, capture(*socket, 1, file == first ? "" : file));
    unknown();
    EXPECT_EQ(0u, capture(*socket, 0));
    listing = btmon(file);
    EXPECT_EQ(1u, countOf(listing, "< HCI Command:")) << file << "\n" << listing;
    EXPECT_EQ(1u, countOf(listing, "> HCI Event:")) << file << "\n" << listing;
  }
  EXPECT_EQ(0u, capture(*socket, 0)) << "stopping twice is no error";
  EXPECT_NE(std::string::npos, daemon.log().find("recording HCI traffic to " + second));
}

TEST_F(VrlbusdBtsnoopTest, CaptureRequestsRefuseOtherUsersAndFilesThatAreNotPlainFiles) {
  EmulatedBusDaemon daemon({"--socket-mode", "0666"});
  auto socket = connectBus(daemon.socketPath());
  ASSERT_TRUE(socket);
  // A symbolic link (the file it points to is left alone), a FIFO nobody reads
  // (refused without blocking the daemon), a NUL inside the path.
  const std::string target = folder_.path() + "/precious";
  ASSERT_TRUE(std::ofstream(target) << "keep me");
  ASSERT_EQ(0, ::symlink(target.c_str(), (folder_.path() + "/link").c_str()));
  ASSERT_EQ(0, ::mkfifo((folder_.path() + "/fifo").c_str(), 0600));
  for (const std::string& refused :
       {std::string(), std::string("relative.snoop"), folder_.path() + "/missing/x.snoop", folder_.path(),
        folder_.path() + "/link", folder_.path() + "/fifo", std::string("/tmp/a\0b", 8)}) {
    EXPECT_EQ(87u, capture(*socket, 1, refused)) << "'" << refused << "' (empty: none configured)";
  }
  EXPECT_EQ("keep me", readFileText(target));

  // Malformed capture requests end the connection.
  for (const Bytes& body : {Bytes{}, Bytes{2}, Bytes{0, 1}}) {
    auto bad = connectBus(daemon.socketPath());
    busproto::Frame reply;
    EXPECT_NE(0u, bad->exchange(busproto::Type::kCapture, body, busproto::Type::kCaptureReply, &reply, 5000));
  }

  if (::geteuid() == 0) {
    // Another user may not record everybody's traffic.
    const std::string path = daemon.socketPath();
    ::chmod(path.substr(0, path.rfind('/')).c_str(), 0755);
    const auto end = utils::testing::runChild(
        [&path] {
          std::unique_ptr<BusSocket> other;
          if (BusSocket::connect(path, &other) != 0) return 2;
          return capture(*other, 1, "/tmp/x") == 5 ? 0 : 1;
        },
        {.asOtherUser = true});
    EXPECT_EQ(0, end.code) << "another user is refused with error 5";
    EXPECT_NE(std::string::npos, daemon.log().find("capture refused: only root may record"));
  }
  // The daemon is still there and a proper request still works.
  EXPECT_EQ(0u, capture(*socket, 1, folder_.path() + "/ok.snoop"));
  EXPECT_EQ(0u, capture(*socket, 0));
}

}  // namespace
}  // namespace utils::test
