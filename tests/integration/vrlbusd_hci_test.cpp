// vrlbusd against a stand-in controller that speaks H4 on a Unix seqpacket
// socket (--h4-socket): the HCI path as a real controller drives it. Command
// Complete and Command Status, events the daemon must ignore or pass on,
// malformed packets, a slow or silent controller, and an unplug and replug.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "h4_standin.h"
#include "port/linux/bus_events.h"
#include "port/linux/bus_socket.h"
#include "radio_test_env.h"

namespace utils::test {
namespace {

namespace busproto = utils::busproto;
using linuxport::BusSocket;
using Answer = H4StandIn::Answer;

constexpr DWORD kVendorCode = 0x9C4024C8;

Bytes commandFor(uint16_t opcode, const Bytes& parameters = {0}) {
  Bytes input{0x1D,
              0,
              0,
              0,
              0,
              1,
              static_cast<uint8_t>(opcode),
              static_cast<uint8_t>(opcode >> 8),
              static_cast<uint8_t>(parameters.size())};
  input.insert(input.end(), parameters.begin(), parameters.end());
  return input;
}

Bytes vendorEvent(const Bytes& parameters) {
  Bytes packet{0x04, 0xFF, static_cast<uint8_t>(parameters.size())};
  packet.insert(packet.end(), parameters.begin(), parameters.end());
  return packet;
}

// CPU seconds (user and system) the process has used so far.
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) ticks += std::stod(field);
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

class VrlbusdHciTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { requireProgram(vrlbusdPath()); }

  void SetUp() override {
    standIn_ = std::make_unique<H4StandIn>(folder_.path() + "/controller.sock");
    socket_ = folder_.path() + "/bus.sock";
    std::vector<std::string> arguments{vrlbusdPath(), "--h4-socket", standIn_->path(), "--socket", socket_};
    for (const auto& option : daemonOptions()) arguments.push_back(option);
    daemon_ = std::make_unique<ChildProcess>(arguments, std::map<std::string, std::string>{}, log());
    ASSERT_TRUE(waitForSocket(socket_, 5000)) << readFileText(log());
  }

  virtual std::vector<std::string> daemonOptions() const { return {"--command-timeout", "300"}; }

  std::string log() const { return folder_.path() + "/vrlbusd.log"; }

  std::unique_ptr<BusSocket> connect() {
    std::unique_ptr<BusSocket> socket;
    EXPECT_EQ(0u, BusSocket::connect(socket_, &socket));
    return socket;
  }

  static busproto::IoControlReply ioControl(BusSocket& socket, const Bytes& input, uint32_t outputSize = 1024) {
    busproto::Frame reply;
    EXPECT_EQ(0u,
              socket.exchange(busproto::Type::kIoControl, busproto::encodeIoControl({kVendorCode, outputSize, input}),
                              busproto::Type::kIoControlReply, &reply, 30000));
    return busproto::decodeIoControlReply(reply.body, outputSize).value_or(busproto::IoControlReply{0xFFFFFFFF, {}});
  }

  static uint32_t versionError(BusSocket& socket, Bytes* version = nullptr) {
    busproto::Frame reply;
    EXPECT_EQ(0u,
              socket.exchange(busproto::Type::kControllerVersion, {}, busproto::Type::kVersionReply, &reply, 30000));
    if (reply.body.size() < 4) return 0xFFFFFFFF;
    if (version != nullptr) version->assign(reply.body.begin() + 4, reply.body.end());
    return busproto::getU32(reply.body.data());
  }

  TempFolder folder_;
  std::string socket_;
  std::unique_ptr<H4StandIn> standIn_;
  std::unique_ptr<ChildProcess> daemon_;
};

TEST_F(VrlbusdHciTest, CommandCompleteCommandStatusAndVendorEventsTravelTheH4Path) {
  ::setenv("UTILS_BUS_SOCKET", socket_.c_str(), 1);
  std::unique_ptr<linuxport::BusEventSubscription> events;
  ASSERT_EQ(0u, linuxport::BusEventSubscription::open(&events));
  ::unsetenv("UTILS_BUS_SOCKET");
  auto client = connect();

  // Before the answer, packets the daemon must pass over: a Command Complete
  // and a Command Status for other opcodes (the Bluetooth daemon's own), an LE
  // event, an ACL data packet, an event whose length byte lies, a truncated
  // packet and an oversized one.
  H4StandIn::Rule signal;
  signal.before = {{0x04, 0x0E, 4, 1, 0x03, 0x0C, 0},
                   {0x04, 0x0F, 4, 0x01, 1, 0x59, 0xFD},
                   {0x04, 0x3E, 2, 0x02, 0x00},
                   {0x02, 0x01, 0x20, 0x01, 0x00, 0xAA},
                   {0x04, 0xFF, 9, 0x8E, 0},
                   {0x04, 0xFF},
                   Bytes(400, 0x04)};
  const Bytes signalEvent{0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0xC4};
  signal.after = {vendorEvent(signalEvent)};
  standIn_->setRule(0xFC59, signal);
  auto reply = ioControl(*client, commandFor(0xFC59, {0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(0u, reply.error);
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x59, 0xFC, 0}), reply.output);
  std::vector<BYTE> received;
  ASSERT_EQ(0u, events->wait(&received, 5000));
  const Bytes expected = vendorEvent(signalEvent);
  EXPECT_EQ(Bytes(expected.begin() + 1, expected.end()), Bytes(received.begin(), received.end()))
      << "the subscriber gets the vendor event and nothing of what came before";
  // What the controller received: the opcode and exactly the parameters.
  ASSERT_TRUE(standIn_->waitForCommands(1, 5000));
  EXPECT_EQ((Bytes{0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}), standIn_->commands()[0]);

  // Command Status, accepted (the answer is the status event) or refused; the
  // controller version. (Every status and answer: unit_vrlbusd.)
  standIn_->setRule(0xFC10, {Answer::kStatus, 0x00, {}, {}, {}});
  EXPECT_EQ((Bytes{0x0F, 4, 0, 1, 0x10, 0xFC}), ioControl(*client, commandFor(0xFC10)).output);
  standIn_->setRule(0xFC11, {Answer::kStatus, 0x12, {}, {}, {}});
  EXPECT_EQ(87u, ioControl(*client, commandFor(0xFC11)).error);
  standIn_->setRule(0x1001, {Answer::kComplete, 0, {0x0B, 0x00, 0x01, 0x0B, 0x1D, 0x00, 0x09, 0x22}, {}, {}});
  Bytes version;
  EXPECT_EQ(0u, versionError(*client, &version));
  EXPECT_EQ((Bytes{0x0B, 0x00, 0x01, 0x0B, 0x1D, 0x00, 0x09, 0x22}), version);

  // Vendor events the controller raises on its own reach every subscriber.
  standIn_->sendRaw(vendorEvent({0x8E, 0, 1, 2, 3, 4, 5, 6, 0xB0}));
  ASSERT_EQ(0u, events->wait(&received, 5000));
  EXPECT_EQ((Bytes{0xFF, 9, 0x8E, 0, 1, 2, 3, 4, 5, 6, 0xB0}), Bytes(received.begin(), received.end()));
  std::vector<BYTE> none;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), events->wait(&none, 200)) << "nothing else";
  EXPECT_NE(std::string::npos, readFileText(log()).find("malformed event packet")) << readFileText(log());
}

TEST_F(VrlbusdHciTest, ASlowCommandStallsNeitherOtherClientsNorEventsAndASilentOneTimesOut) {
  ::setenv("UTILS_BUS_SOCKET", socket_.c_str(), 1);
  std::unique_ptr<linuxport::BusEventSubscription> events;
  ASSERT_EQ(0u, linuxport::BusEventSubscription::open(&events));
  ::unsetenv("UTILS_BUS_SOCKET");
  standIn_->setRule(0xFC30, {Answer::kHold, 0, {}, {}, {}});
  standIn_->setRule(0xFC31, {Answer::kComplete, 0, {}, {}, {}});

  // The slow command goes out; its client waits.
  auto slow = connect();
  ASSERT_EQ(0u, slow->send(busproto::Type::kIoControl, busproto::encodeIoControl({kVendorCode, 64, commandFor(0xFC30)}),
                           5000));
  ASSERT_TRUE(standIn_->waitForCommands(1, 5000));

  // Meanwhile: other requests are answered, events flow, and another command
  // waits its turn behind the slow one.
  auto other = connect();
  Bytes paired(2092, 0);
  paired[0] = 10;
  busproto::Frame reply;
  ASSERT_EQ(0u, other->exchange(busproto::Type::kIoControl, busproto::encodeIoControl({0x9C402644, 32, paired}),
                                busproto::Type::kIoControlReply, &reply, 5000));
  EXPECT_EQ(0u, busproto::getU32(reply.body.data()));
  standIn_->sendRaw(vendorEvent({0x8E, 0, 1, 2, 3, 4, 5, 6, 0xC0}));
  std::vector<BYTE> received;
  ASSERT_EQ(0u, events->wait(&received, 5000)) << "a vendor event while a command is slow";
  auto queued = connect();
  ASSERT_EQ(0u, queued->send(busproto::Type::kIoControl,
                             busproto::encodeIoControl({kVendorCode, 64, commandFor(0xFC31)}), 5000));
  const Bytes hello{1, 0, 0, 0};
  ASSERT_EQ(0u, other->exchange(busproto::Type::kHello, hello, busproto::Type::kHelloReply, &reply, 5000));
  EXPECT_EQ(1u, standIn_->commands().size()) << "one command with the controller at a time";

  standIn_->release();
  ASSERT_EQ(0u, slow->receive(&reply, 5000));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0x0E, 4, 1, 0x30, 0xFC, 0}), reply.body);
  ASSERT_EQ(0u, queued->receive(&reply, 5000));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0x0E, 4, 1, 0x31, 0xFC, 0}), reply.body);

  // A command the controller never answers fails with a timeout, and the next
  // one goes through.
  standIn_->setRule(0xFC32, {Answer::kSilent, 0, {}, {}, {}});
  EXPECT_EQ(121u, ioControl(*slow, commandFor(0xFC32)).error);
  EXPECT_EQ(0u, ioControl(*slow, commandFor(0xFC31)).error);
  EXPECT_NE(std::string::npos, readFileText(log()).find("did not answer HCI command 0xFC32 in time"));
}

// Reads and discards until the daemon closes fd; false when it stays open 10 s.
bool drainedToEnd(int fd) {
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) return true;
    if (n < 0) return false;
  }
}

// A daemon that drops a client at 128 KiB of unread answers and events, and
// gives the controller all the time it needs: no command may fail because a
// loaded machine held the stand-in back.
class VrlbusdHciBoundTest : public VrlbusdHciTest {
 protected:
  std::vector<std::string> daemonOptions() const override {
    return {"--command-timeout", "60000", "--client-buffer", "131072"};
  }
};

TEST_F(VrlbusdHciBoundTest, ASubscriberThatDoesNotReadIsDroppedAtTheBoundAndTheOthersGoOn) {
  ::setenv("UTILS_BUS_SOCKET", socket_.c_str(), 1);
  std::unique_ptr<linuxport::BusEventSubscription> reader;  // reads everything
  ASSERT_EQ(0u, linuxport::BusEventSubscription::open(&reader));
  ::unsetenv("UTILS_BUS_SOCKET");
  // A subscriber that never reads.
  std::unique_ptr<BusSocket> deaf = connect();
  busproto::Frame reply;
  ASSERT_EQ(0u, deaf->exchange(busproto::Type::kSubscribe, {}, busproto::Type::kSubscribed, &reply, 20000));

  // Each command brings 100 vendor events of the largest size (262-byte
  // frames). Bursts go on until the daemon drops the subscriber that does not
  // read; the one that reads takes each burst before the next is asked for.
  H4StandIn::Rule burst;
  Bytes parameters(255, 0x5A);
  parameters[0] = 0x8E;
  burst.after.assign(100, vendorEvent(parameters));
  standIn_->setRule(0xFC50, burst);
  auto producer = connect();
  const auto deafDropped = [this] {
    return readFileText(log()).find("not reading its answers, dropped") != std::string::npos;
  };
  size_t seen = 0;
  size_t sent = 0;
  std::vector<BYTE> event;
  while (!deafDropped() && sent < 6000) {
    ASSERT_EQ(0u, ioControl(*producer, commandFor(0xFC50)).error);
    sent += 100;
    for (; seen < sent; ++seen) ASSERT_EQ(0u, reader->wait(&event, 20000)) << "event " << seen;
  }
  EXPECT_TRUE(drainedToEnd(deaf->fd())) << "the one that does not read is dropped";
  EXPECT_TRUE(deafDropped()) << readFileText(log());
  EXPECT_LE(sent, 3000u) << "dropped at its own bound, well before 1 MiB";
  EXPECT_EQ(0u, ioControl(*producer, commandFor(0xFC50)).error);
  EXPECT_EQ(0u, reader->wait(&event, 20000)) << "and the other subscriber stays";

  // The bound is a number of bytes no smaller than the largest answer.
  TempFolder folder;
  for (const char* bad : {"131071", "0", "-1", "1M", "1073741825"}) {
    EXPECT_EQ(2, runProgram({vrlbusdPath(), "--emulate", "--socket", folder.path() + "/s", "--client-buffer", bad}, {}))
        << bad;
  }
}

TEST_F(VrlbusdHciTest, AnUnpluggedControllerGivesNotReadyWithoutABusyLoopAndIsReopenedWhenBack) {
  ASSERT_TRUE(standIn_->waitForConnections(1, 5000));
  auto client = connect();
  standIn_->setRule(0xFC40, {Answer::kHold, 0, {}, {}, {}});
  ASSERT_EQ(0u, client->send(busproto::Type::kIoControl,
                             busproto::encodeIoControl({kVendorCode, 64, commandFor(0xFC40)}), 5000));
  ASSERT_TRUE(standIn_->waitForCommands(1, 5000));

  standIn_->unplug();
  busproto::Frame reply;
  ASSERT_EQ(0u, client->receive(&reply, 5000));
  EXPECT_EQ(21u, busproto::getU32(reply.body.data())) << "the command with the controller when it went";
  EXPECT_EQ(21u, ioControl(*client, commandFor(0xFC41)).error);
  EXPECT_EQ(21u, versionError(*client));
  Bytes paired(8, 0);
  paired[0] = 10;
  ASSERT_EQ(0u, client->exchange(busproto::Type::kIoControl, busproto::encodeIoControl({0x9C402644, 32, paired}),
                                 busproto::Type::kIoControlReply, &reply, 5000));
  EXPECT_EQ(0u, busproto::getU32(reply.body.data())) << "requests without the controller are still answered";

  // Away for a while: the daemon waits for it in its poll, not in a loop.
  const double before = cpuSeconds(daemon_->pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_LT(cpuSeconds(daemon_->pid()) - before, 0.5) << "busy while the controller is away";

  standIn_->plugIn();
  ASSERT_TRUE(standIn_->waitForConnections(2, 10000)) << readFileText(log());
  standIn_->setRule(0xFC41, {Answer::kComplete, 0, {}, {}, {}});
  EXPECT_EQ(0u, ioControl(*client, commandFor(0xFC41)).error);
  const std::string text = readFileText(log());
  EXPECT_NE(std::string::npos, text.find("gone (hung up); clients get error 21")) << text;
  EXPECT_NE(std::string::npos, text.find("is back")) << text;
}

}  // namespace
}  // namespace utils::test
