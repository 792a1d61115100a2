// vrlbusd's btsnoop recording of its HCI traffic, read back with the real
// btmon -r, and the capture request that starts and stops it: who may ask and
// which files it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "port/linux/bus_socket.h"
#include "radio_test_env.h"

namespace utils::test {
namespace {

namespace busproto = utils::busproto;
using linuxport::BusSocket;
using Bytes = std::vector<uint8_t>;

constexpr DWORD kVendorCode = 0x9C4024C8;
const Bytes kSignal{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA};
const Bytes kUnknown{0x1D, 0, 0, 0, 0, 1, 0x01, 0xFC, 1, 0};

class VrlbusdBtsnoopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram(vrlbusdPath());
    requireProgram("btmon");
  }

  static void request(BusSocket& socket, const Bytes& input) {
    busproto::Frame reply;
    ASSERT_EQ(0u, socket.exchange(busproto::Type::kIoControl, busproto::encodeIoControl({kVendorCode, 64, input}),
                                  busproto::Type::kIoControlReply, &reply, 5000));
  }

  // Sends a capture request (0 stop, 1 start with path); returns the error.
  static uint32_t capture(BusSocket& socket, uint8_t action, const std::string& path = "") {
    Bytes body{action};
    body.insert(body.end(), path.begin(), path.end());
    busproto::Frame reply;
    EXPECT_EQ(0u, socket.exchange(busproto::Type::kCapture, body, busproto::Type::kCaptureReply, &reply, 5000));
    return reply.body.size() == 4 ? busproto::getU32(reply.body.data()) : 0xFFFFFFFF;
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
  std::unique_ptr<BusSocket> socket;
  ASSERT_EQ(0u, BusSocket::connect(daemon.socketPath(), &socket));
  request(*socket, kSignal);
  request(*socket, kUnknown);
  busproto::Frame reply;
  ASSERT_EQ(0u, socket->exchange(busproto::Type::kControllerVersion, {}, busproto::Type::kVersionReply, &reply, 5000));
  EXPECT_EQ(0u, capture(*socket, 0));
  request(*socket, kSignal);  // not recorded

  std::string listing = btmon(first);
  EXPECT_EQ(1u, countOf(listing, "< HCI Command: Vendor (0x3f|0x0059) plen 7")) << listing;
  EXPECT_EQ(1u, countOf(listing, "< HCI Command: Vendor (0x3f|0x0001) plen 1")) << listing;
  EXPECT_EQ(1u, countOf(listing, "< HCI Command: Read Local Version Information (0x04|0x0001) plen 0")) << listing;
  EXPECT_EQ(3u, countOf(listing, "> HCI Event: Command Complete (0x0e)")) << listing;
  EXPECT_EQ(1u, countOf(listing, "> HCI Event: Vendor (0xff) plen 9")) << listing;
  EXPECT_EQ(1u, countOf(listing, "Manufacturer: ")) << listing;

  // Started again on request, into another file; the empty path means the
  // daemon's own file.
  const std::string second = folder_.path() + "/second.snoop";
  EXPECT_EQ(0u, capture(*socket, 1, second));
  request(*socket, kUnknown);
  EXPECT_EQ(0u, capture(*socket, 0));
  listing = btmon(second);
  EXPECT_EQ(1u, countOf(listing, "< HCI Command:")) << listing;
  EXPECT_EQ(1u, countOf(listing, "> HCI Event:")) << listing;
  EXPECT_EQ(0u, capture(*socket, 1));
  request(*socket, kUnknown);
  EXPECT_EQ(0u, capture(*socket, 0));
  EXPECT_EQ(0u, capture(*socket, 0)) << "stopping twice is no error";
  listing = btmon(first);
  EXPECT_EQ(1u, countOf(listing, "< HCI Command:")) << "a new recording starts a new file\n" << listing;
  EXPECT_NE(std::string::npos, daemon.log().find("recording HCI traffic to " + second));
}

TEST_F(VrlbusdBtsnoopTest, CaptureRequestsRefuseOtherUsersAndFilesThatAreNotPlainFiles) {
  EmulatedBusDaemon daemon({"--socket-mode", "0666"});
  std::unique_ptr<BusSocket> socket;
  ASSERT_EQ(0u, BusSocket::connect(daemon.socketPath(), &socket));

  EXPECT_EQ(87u, capture(*socket, 1)) << "no file named, none configured";
  EXPECT_EQ(87u, capture(*socket, 1, "relative.snoop"));
  EXPECT_EQ(87u, capture(*socket, 1, folder_.path() + "/missing/x.snoop"));
  EXPECT_EQ(87u, capture(*socket, 1, folder_.path())) << "a folder";
  // A symbolic link: the file it points to is left alone.
  const std::string target = folder_.path() + "/precious";
  ASSERT_TRUE(std::ofstream(target) << "keep me");
  ASSERT_EQ(0, ::symlink(target.c_str(), (folder_.path() + "/link").c_str()));
  EXPECT_EQ(87u, capture(*socket, 1, folder_.path() + "/link"));
  EXPECT_EQ("keep me", readFileText(target));
  // A FIFO nobody reads: refused without blocking the daemon.
  ASSERT_EQ(0, ::mkfifo((folder_.path() + "/fifo").c_str(), 0600));
  EXPECT_EQ(87u, capture(*socket, 1, folder_.path() + "/fifo"));
  // A NUL inside the path.
  EXPECT_EQ(87u, capture(*socket, 1, std::string("/tmp/a\0b", 8)));

  // Malformed capture requests end the connection.
  for (const Bytes& body : {Bytes{}, Bytes{2}, Bytes{0, 1}}) {
    std::unique_ptr<BusSocket> bad;
    ASSERT_EQ(0u, BusSocket::connect(daemon.socketPath(), &bad));
    busproto::Frame reply;
    EXPECT_NE(0u, bad->exchange(busproto::Type::kCapture, body, busproto::Type::kCaptureReply, &reply, 5000));
  }

  if (::geteuid() == 0) {
    // Another user may not record everybody's traffic.
    const std::string path = daemon.socketPath();
    ::chmod(path.substr(0, path.rfind('/')).c_str(), 0755);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::unique_ptr<BusSocket> other;
      int code = 2;
      if (::setgid(65534) == 0 && ::setuid(65534) == 0 && BusSocket::connect(path, &other) == 0) {
        busproto::Frame reply;
        const Bytes body{1, '/', 't', 'm', 'p', '/', 'x'};
        code = other->exchange(busproto::Type::kCapture, body, busproto::Type::kCaptureReply, &reply, 5000) == 0 &&
                       reply.body.size() == 4 && busproto::getU32(reply.body.data()) == 5
                   ? 0
                   : 1;
      }
      ::_exit(code);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another user is refused with error 5";
    EXPECT_NE(std::string::npos, daemon.log().find("capture refused: only root may record"));
  }
  // The daemon is still there and a proper request still works.
  EXPECT_EQ(0u, capture(*socket, 1, folder_.path() + "/ok.snoop"));
  EXPECT_EQ(0u, capture(*socket, 0));

  // A recording file the daemon cannot create at start-up: it does not start.
  std::string output;
  EXPECT_EQ(1, runProgram({vrlbusdPath(), "--emulate", "--socket", folder_.path() + "/s", "--btsnoop",
                           folder_.path() + "/link"},
                          {}, &output));
  EXPECT_NE(std::string::npos, output.find("link: ")) << output;
}

}  // namespace
}  // namespace utils::test
