// vrlbusd against a stand-in controller that speaks H4 on a Unix seqpacket
// socket (--h4-socket): the HCI path as a real controller drives it. Command
// Complete and Command Status, events the daemon must ignore or pass on,
// malformed packets, a slow or silent controller, and an unplug and replug.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "h4_standin.h"
#include "radio_test_env.h"
#include "vrlbusd_client.h"

namespace utils::test {
namespace {

using Answer = H4StandIn::Answer;

Bytes vendorEvent(const Bytes& parameters) { return H4StandIn::event(0xFF, parameters); }

// CPU seconds (user and system) the process has used so far: the 14th and
// 15th fields of its stat line.
double cpuSeconds(pid_t pid) {
  const std::string stat = readFileText("/proc/" + std::to_string(pid) + "/stat");
  unsigned long user = 0, system = 0;
  std::sscanf(stat.c_str() + stat.rfind(')') + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
              &system);
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

class VrlbusdHciTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { requireProgram(vrlbusdPath()); }

  // The daemon on the stand-in, with its events subscribed and a client.
  void start(std::vector<std::string> options = {"--command-timeout", "300"}) {
    options.insert(options.begin(), {"--h4-socket", standIn_.path()});
    daemon_ = std::make_unique<EmulatedBusDaemon>(options, false);
    ASSERT_TRUE(events_ = subscribeEvents(daemon_->socketPath())) << daemon_->log();
    ASSERT_TRUE(client_ = connectBus(daemon_->socketPath()));
  }
  busproto::IoControlReply command(uint16_t opcode, const Bytes& parameters = {0}) {
    return ioControl(*client_, kVendorCode, vendorCommand(opcode, parameters));
  }
  // Sends a vendor command on socket without waiting for its answer.
  static void post(BusSocket& socket, uint16_t opcode) {
    ASSERT_EQ(0u, socket.send(busproto::Type::kIoControl,
                              busproto::encodeIoControl({kVendorCode, 64, vendorCommand(opcode)}), 5000));
  }
  std::vector<BYTE> nextEvent() {
    std::vector<BYTE> event;
    EXPECT_EQ(0u, events_->wait(&event, 20000));
    return event;
  }

  TempFolder folder_;
  H4StandIn standIn_{folder_.path() + "/controller.sock"};
  std::unique_ptr<EmulatedBusDaemon> daemon_;
  std::unique_ptr<linuxport::BusEventSubscription> events_;
  std::unique_ptr<BusSocket> client_;
};

TEST_F(VrlbusdHciTest, CommandCompleteCommandStatusAndVendorEventsTravelTheH4Path) {
  start();
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
  const Bytes signalEvent = vendorEvent({0x8E, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0xC4});
  signal.after = {signalEvent};
  standIn_.setRule(0xFC59, signal);
  const auto reply = command(0xFC59, {0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
  EXPECT_EQ(0u, reply.error);
  EXPECT_EQ((Bytes{0x0E, 4, 1, 0x59, 0xFC, 0}), reply.output);
  EXPECT_EQ(Bytes(signalEvent.begin() + 1, signalEvent.end()), nextEvent())
      << "the subscriber gets the vendor event and nothing of what came before";
  // What the controller received: the opcode and exactly the parameters.
  EXPECT_EQ((Bytes{0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55}), standIn_.commands().at(0));

  // An accepting Command Status is the answer (every status: unit_vrlbusd).
  standIn_.setRule(0xFC10, {Answer::kStatus, 0x00, {}, {}, {}});
  EXPECT_EQ((Bytes{0x0F, 4, 0, 1, 0x10, 0xFC}), command(0xFC10).output);

  // Vendor events the controller raises on its own reach every subscriber.
  standIn_.sendRaw(vendorEvent({0x8E, 0, 1, 2, 3, 4, 5, 6, 0xB0}));
  EXPECT_EQ((Bytes{0xFF, 9, 0x8E, 0, 1, 2, 3, 4, 5, 6, 0xB0}), nextEvent());
  std::vector<BYTE> none;
  EXPECT_EQ(static_cast<DWORD>(ERROR_SEM_TIMEOUT), events_->wait(&none, 200)) << "nothing else";
  EXPECT_NE(std::string::npos, daemon_->log().find("malformed event packet")) << daemon_->log();
}

TEST_F(VrlbusdHciTest, ASlowCommandStallsNeitherOtherClientsNorEventsAndASilentOneTimesOut) {
  start();
  standIn_.setRule(0xFC30, {Answer::kHold, 0, {}, {}, {}});
  standIn_.setRule(0xFC31, {Answer::kComplete, 0, {}, {}, {}});
  standIn_.setRule(0xFC32, {Answer::kSilent, 0, {}, {}, {}});

  // The slow command goes out; its client waits.
  post(*client_, 0xFC30);
  ASSERT_TRUE(standIn_.waitForCommands(1, 5000));

  // Meanwhile: other requests are answered, events flow, and another command
  // waits its turn behind the slow one.
  auto other = connectBus(daemon_->socketPath());
  EXPECT_EQ(0u, ioControl(*other, kPairedCountCode, pairedCount(0), 32).error);
  standIn_.sendRaw(vendorEvent({0x8E, 0, 1, 2, 3, 4, 5, 6, 0xC0}));
  EXPECT_FALSE(nextEvent().empty()) << "a vendor event while a command is slow";
  auto queued = connectBus(daemon_->socketPath());
  post(*queued, 0xFC31);
  EXPECT_FALSE(ask(*other, busproto::Type::kHello, busproto::Type::kHelloReply, {1, 0, 0, 0}).empty());
  EXPECT_EQ(1u, standIn_.commands().size()) << "one command with the controller at a time";

  standIn_.release();
  busproto::Frame reply;
  ASSERT_EQ(0u, client_->receive(&reply, 5000));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0x0E, 4, 1, 0x30, 0xFC, 0}), reply.body);
  ASSERT_EQ(0u, queued->receive(&reply, 5000));
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0x0E, 4, 1, 0x31, 0xFC, 0}), reply.body);

  // A command the controller never answers fails with a timeout, and the next
  // one goes through.
  EXPECT_EQ(121u, command(0xFC32).error);
  EXPECT_EQ(0u, command(0xFC31).error);
  EXPECT_NE(std::string::npos, daemon_->log().find("did not answer HCI command 0xFC32 in time"));
}

TEST_F(VrlbusdHciTest, ASubscriberThatDoesNotReadIsDroppedAtTheBoundAndTheOthersGoOn) {
  // Dropped at 128 KiB of unread answers and events; the controller gets all
  // the time it needs, so no command fails because the machine is loaded.
  start({"--command-timeout", "60000", "--client-buffer", "131072"});
  auto deaf = connectBus(daemon_->socketPath());
  ASSERT_EQ(Bytes{}, ask(*deaf, busproto::Type::kSubscribe, busproto::Type::kSubscribed));

  // Each command brings 100 vendor events of the largest size (262-byte
  // frames). Bursts go on until the daemon drops the subscriber that does not
  // read; the one that reads takes each burst before the next is asked for.
  H4StandIn::Rule burst;
  Bytes parameters(255, 0x5A);
  parameters[0] = 0x8E;
  burst.after.assign(100, vendorEvent(parameters));
  standIn_.setRule(0xFC50, burst);
  const auto deafDropped = [this] {
    return daemon_->log().find("not reading its answers, dropped") != std::string::npos;
  };
  size_t sent = 0;
  while (!deafDropped() && sent < 6000) {
    ASSERT_EQ(0u, command(0xFC50).error);
    for (const size_t end = sent + 100; sent < end; ++sent) ASSERT_FALSE(nextEvent().empty()) << "event " << sent;
  }
  EXPECT_TRUE(closedByDaemon(::dup(deaf->fd()), 10)) << "the one that does not read is dropped";
  EXPECT_TRUE(deafDropped()) << daemon_->log();
  EXPECT_LE(sent, 3000u) << "dropped at its own bound, well before 1 MiB";
  EXPECT_EQ(0u, command(0xFC50).error);
  EXPECT_FALSE(nextEvent().empty()) << "and the other subscriber stays";
}

TEST_F(VrlbusdHciTest, AnUnpluggedControllerGivesNotReadyWithoutABusyLoopAndIsReopenedWhenBack) {
  start();
  ASSERT_TRUE(waitUntil([&] { return standIn_.connections() >= 1; }, 5000));
  standIn_.setRule(0xFC40, {Answer::kHold, 0, {}, {}, {}});
  post(*client_, 0xFC40);
  ASSERT_TRUE(standIn_.waitForCommands(1, 5000));

  standIn_.unplug();
  busproto::Frame reply;
  ASSERT_EQ(0u, client_->receive(&reply, 5000));
  EXPECT_EQ(21u, busproto::getU32(reply.body.data())) << "the command with the controller when it went";
  EXPECT_EQ(21u, command(0xFC41).error);
  EXPECT_EQ(21u, versionError(*client_));
  EXPECT_EQ(0u, ioControl(*client_, kPairedCountCode, pairedCount(0, 8), 32).error)
      << "requests without the controller are still answered";

  // Away for a while: the daemon waits for it in its poll, not in a loop.
  const double before = cpuSeconds(daemon_->process().pid());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_LT(cpuSeconds(daemon_->process().pid()) - before, 0.5) << "busy while the controller is away";

  standIn_.plugIn();
  ASSERT_TRUE(waitUntil([&] { return standIn_.connections() >= 2; }, 10000)) << daemon_->log();
  standIn_.setRule(0xFC41, {Answer::kComplete, 0, {}, {}, {}});
  EXPECT_EQ(0u, command(0xFC41).error);
  const std::string text = daemon_->log();
  EXPECT_NE(std::string::npos, text.find("gone (hung up); clients get error 21")) << text;
  EXPECT_NE(std::string::npos, text.find("is back")) << text;
}

}  // namespace
}  // namespace utils::test
