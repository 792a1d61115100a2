// vrlbusd's request logic without a socket: the I/O control requests, what each
// user may read back, the version answer, and the command queue between clients
// and a scripted controller on a clock the test moves.
#include <gtest/gtest.h>

#include <utility>

#include "bus_requests.h"
#include "command_channel.h"

namespace vrlbusd {
namespace {

namespace busproto = utils::busproto;
using Bytes = std::vector<uint8_t>;

// A vendor command request: company, LMP version, pattern flag, opcode, length.
Bytes vendorInput(uint16_t opcode, Bytes parameters = {0}, int lengthByte = -1) {
  Bytes in{0x1D, 0, 0, 0, 0, 1, static_cast<uint8_t>(opcode), static_cast<uint8_t>(opcode >> 8)};
  in.push_back(static_cast<uint8_t>(lengthByte < 0 ? parameters.size() : static_cast<size_t>(lengthByte)));
  for (uint8_t byte : parameters) in.push_back(byte);  // (insert trips GCC 12's bounds warning)
  return in;
}

Bytes pairedInput(uint32_t tag, uint32_t count, size_t size = 2092) {
  Bytes in;
  busproto::putU32(in, tag);
  busproto::putU32(in, count);
  in.resize(size, 0);
  return in;
}

TEST(BusRequestsTest, EachRequestIsAnsweredOrBecomesACommandForTheController) {
  OpcodePolicy policy;
  policy.allow(0x0C03);
  BusRequests requests(policy);
  struct Row {
    const char* what;
    uint32_t code;
    Bytes input;
    std::optional<uint32_t> error;  // none: a command for the controller
    Bytes parameters;               // of the command
  };
  const Row rows[] = {
      {"unknown code", 0x12345678, {}, 1u, {}},
      {"too short for a vendor command", kIoctlVendorHciCommand, {1, 2, 3}, 87u, {}},
      {"Reset, not a vendor command", kIoctlVendorHciCommand, vendorInput(0x0406), 5u, {}},
      {"group below the vendor's", kIoctlVendorHciCommand, vendorInput(0xFBFF), 5u, {}},
      {"opcode 0", kIoctlVendorHciCommand, vendorInput(0x0000), 5u, {}},
      {"allowed by the administrator", kIoctlVendorHciCommand, vendorInput(0x0C03), std::nullopt, {0}},
      {"vendor group's first", kIoctlVendorHciCommand, vendorInput(0xFC00), std::nullopt, {0}},
      {"vendor group's last", kIoctlVendorHciCommand, vendorInput(0xFFFF, {1, 2}), std::nullopt, {1, 2}},
      {"length byte beyond the bytes", kIoctlVendorHciCommand, vendorInput(0xFC59, {1, 2}, 200), std::nullopt, {1, 2}},
      {"length byte short of the bytes", kIoctlVendorHciCommand, vendorInput(0xFC59, {1, 2, 3}, 1), std::nullopt, {1}},
      {"paired count", kIoctlPairedDeviceCount, pairedInput(10, 3), 0u, {}},
      {"paired count, wrong tag", kIoctlPairedDeviceCount, pairedInput(9, 4), 87u, {}},
      {"paired count, too short", kIoctlPairedDeviceCount, pairedInput(10, 4, 7), 87u, {}},
  };
  for (const Row& row : rows) {
    const Outcome outcome = requests.handle(Peer{7, 1000, 42}, {row.code, 64, row.input});
    ASSERT_NE(outcome.reply.has_value(), outcome.command.has_value()) << row.what;
    if (row.error) {
      EXPECT_EQ(*row.error, outcome.reply->error) << row.what;
      EXPECT_TRUE(outcome.reply->output.empty()) << row.what;
    } else {
      EXPECT_EQ(row.parameters, outcome.command->parameters) << row.what;
      EXPECT_EQ(7u, outcome.command->client) << row.what;
      EXPECT_EQ(64u, outcome.command->outputSize) << row.what;
    }
  }
  EXPECT_EQ(3u, requests.pairedDeviceCount()) << "a refused count keeps the last one";
  EXPECT_EQ("client 7 (uid 1000, pid 42)", (Peer{7, 1000, 42}).describe());

  // The answer is cut to the output size; a failure passes through.
  CommandResult result{{7, kPurposeVendorCommand, 3, 0xFC59, {}}, 0, {0x0E, 4, 1, 0x59, 0xFC, 0}};
  EXPECT_EQ((Bytes{0x0E, 4, 1}), BusRequests::answer(result).output);
  result.error = kErrorSemTimeout;
  EXPECT_EQ(kErrorSemTimeout, BusRequests::answer(result).error);
  EXPECT_TRUE(BusRequests::answer(result).output.empty());
}

TEST(BusRequestsTest, EachUserReadsBackItsOwnLatestRequestsAndRootReadsAll) {
  BusRequests requests({});
  const Peer root{1, 0, 1}, alice{2, 1000, 2}, bob{3, 1001, 3};
  requests.handle(root, {0x11, 0, {0xDE, 0xAD}});  // root's bytes are for root only
  for (uint8_t i = 0; i < 20; ++i) requests.handle(alice, {0x22, 0, {i}});
  requests.handle(bob, {0x33, 0, {0xB0}});

  const Bytes mine = requests.encodeRecent(bob);
  EXPECT_EQ((Bytes{1, 0, 0, 0, 0x33, 0, 0, 0, 1, 0, 0, 0, 0xB0}), mine);
  Bytes alices = requests.encodeRecent(alice);
  ASSERT_EQ(4u + busproto::kRememberedRequests * 9, alices.size());
  EXPECT_EQ(busproto::kRememberedRequests, busproto::getU32(alices.data()));
  EXPECT_EQ(4, alices[4 + 8]) << "the oldest of the newest 16, oldest first";
  EXPECT_EQ(19, alices.back());
  const Bytes all = requests.encodeRecent(root);
  EXPECT_EQ(busproto::kRememberedRequests, busproto::getU32(all.data()));
  EXPECT_EQ(0xB0, all.back()) << "every user's, in arrival order";
}

TEST(BusRequestsTest, TheVersionAnswerIsCheckedBeforeItIsPassedOn) {
  const Packet version = commandComplete(kReadLocalVersion, Bytes{0, 0x0B, 0x00, 0x01, 0x0B, 0x1D, 0x00, 0x09, 0x22});
  EXPECT_EQ(kReadLocalVersion, BusRequests::versionCommand(Peer{}).opcode);
  EXPECT_EQ((Bytes{0, 0, 0, 0, 0x0B, 0x00, 0x01, 0x0B, 0x1D, 0x00, 0x09, 0x22}),
            BusRequests::encodeVersion({{}, 0, version}));
  // A failed or short answer is "not ready"; an error passes through.
  for (const Packet& bad : {commandComplete(kReadLocalVersion, Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0}),
                            commandComplete(kReadLocalVersion, Bytes{0, 0x0B})}) {
    EXPECT_EQ((Bytes{21, 0, 0, 0}), BusRequests::encodeVersion({{}, 0, bad}));
  }
  EXPECT_EQ((Bytes{121, 0, 0, 0}), BusRequests::encodeVersion({{}, kErrorSemTimeout, {}}));
}

// A controller that answers as the test tells it, once a command is sent.
class ScriptedController : public Controller {
 public:
  uint32_t send(uint16_t opcode, std::span<const uint8_t>) override {
    sent.push_back(opcode);
    for (auto& packet : answers) events.push_back(packet);
    answers.clear();
    return 0;
  }
  std::vector<Packet> takeEvents() override { return std::exchange(events, {}); }
  std::string name() const override { return "scripted"; }

  std::vector<uint16_t> sent;
  std::vector<Packet> answers, events;
};

CommandRequest command(unsigned client, uint16_t opcode) { return CommandRequest{client, 1, 64, opcode, {0}}; }

TEST(CommandChannelTest, AnswersAreMatchedByOpcodeAndFailuresMappedOneCommandAtATime) {
  ScriptedController controller;
  CommandChannel channel(controller, {std::chrono::milliseconds(100), std::chrono::milliseconds(500)});
  const Clock::time_point start{};
  std::vector<CommandResult> done;
  std::vector<Packet> vendor;
  struct Row {
    const char* what;
    std::vector<Packet> answers;
    uint32_t error;
  };
  // Events of other commands, malformed ones and vendor events pass over; a
  // Command Status accepts (its event is the answer) or refuses.
  const Row rows[] = {
      {"complete after others' answers and junk",
       {{0x0E, 4, 1, 0x03, 0x0C, 0},
        {0x0F, 4, 0, 1, 0x03, 0x0C},
        {0x0E, 9, 1},
        {0x3E, 1, 2},
        {0x0E},
        {0xFF, 2, 0x8E, 0},
        {0x0E, 4, 1, 0x10, 0xFC, 0}},
       0},
      {"status accepted", {{0x0F, 4, 0, 1, 0x10, 0xFC}}, 0},
      {"status: unknown command", {{0x0F, 4, 0x01, 1, 0x10, 0xFC}}, kErrorInvalidFunction},
      {"status: invalid parameters", {{0x0F, 4, 0x12, 1, 0x10, 0xFC}}, kErrorInvalidParameter},
      {"status: another refusal", {{0x0F, 4, 0x0C, 1, 0x10, 0xFC}}, kErrorGenFailure},
  };
  for (const Row& row : rows) {
    controller.answers = row.answers;
    channel.submit(command(1, 0xFC10), start);
    done.clear();
    channel.pump(start, &done, &vendor);
    ASSERT_EQ(1u, done.size()) << row.what;
    EXPECT_EQ(row.error, done[0].error) << row.what;
    EXPECT_EQ(row.error == 0, !done[0].answer.empty()) << row.what;
  }
  EXPECT_EQ(1u, vendor.size());

  // One command with the controller at a time; the next is sent when it is done.
  done.clear();
  channel.submit(command(1, 0xFC20), start);
  channel.submit(command(2, 0xFC21), start);
  channel.submit(command(3, 0xFC22), start);
  channel.forget(3);
  channel.pump(start, &done, &vendor);
  EXPECT_EQ(start + std::chrono::milliseconds(100), channel.nextDeadline());
  controller.events = {{0x0E, 4, 1, 0x20, 0xFC, 0}};
  channel.pump(start + std::chrono::milliseconds(50), &done, &vendor);
  ASSERT_EQ(1u, done.size());
  EXPECT_EQ(1u, done[0].request.client);
  // No answer in time: a timeout, and so for a command that waited too long.
  channel.submit(command(4, 0xFC23), start + std::chrono::milliseconds(60));
  EXPECT_EQ(start + std::chrono::milliseconds(150), channel.nextDeadline());
  channel.pump(start + std::chrono::milliseconds(600), &done, &vendor);
  ASSERT_EQ(3u, done.size());
  EXPECT_EQ(kErrorSemTimeout, done[1].error);
  EXPECT_EQ(2u, done[1].request.client);
  EXPECT_EQ(kErrorSemTimeout, done[2].error);
  EXPECT_EQ(4u, done[2].request.client);
  EXPECT_EQ((std::vector<uint16_t>{0xFC10, 0xFC10, 0xFC10, 0xFC10, 0xFC10, 0xFC20, 0xFC21}), controller.sent)
      << "the forgotten command is never sent";
  EXPECT_EQ(std::nullopt, channel.nextDeadline());
}

}  // namespace
}  // namespace vrlbusd
