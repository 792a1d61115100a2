// vrlbusd's btsnoop recording of its HCI traffic, read back with the real
// btmon -r, and the capture request that starts and stops it: who may ask and
// which files it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "child_process.h"
#include "radio_test_env.h"
#include "vrlbusd_client.h"

namespace utils::test {
namespace {

const Bytes kSignal{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA};

class VrlbusdBtsnoopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    requireProgram(vrlbusdPath());
    requireProgram("btmon");
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
