// The signal-strength command and SendBusHciCommand's results.
#include "radio/bus_requests.h"
#include "radio/signal_command.h"
#include "radio_fixture.h"
#include "utils/radio.h"

namespace utils::test {
namespace {

using SignalCommandTest = RadioTest;
using Bytes = std::vector<BYTE>;

TEST_F(SignalCommandTest, SendsTheAddressInTheOrderGivenWithAParameterOnlyLengthByte) {
  // No radio with an empty cache: no bus is touched.
  sim_.radio.setRadio(0, false);
  const BYTE address[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
  EXPECT_EQ(0xFFFFFFFFu, SendRssiCmdWithAddr(address));
  EXPECT_TRUE(sim_.bus.openedPaths().empty());
  EXPECT_EQ(0u, radio::cachedManufacturer());
  EXPECT_EQ(std::vector<std::string>{"[4][utils]local radio handle = 0x0 radio found = 0x0\n"}, messages());

  sim_.radio.setRadio(0x0000112233445566ULL);
  sim_.debugOutput.clear();
  EXPECT_EQ(0u, SendRssiCmdWithAddr(address));
  const auto requests = sim_.bus.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(0x9C4024C8u, requests[0].code);
  EXPECT_EQ((Bytes{0x1D, 0, 0, 0, 0, 1, 0x59, 0xFC, 7, 0x01, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 7, 1, 0xAA}),
            requests[0].input);
  // FindLocalRadio's two lines (the handle, the information), the bus lookup's, the result.
  const auto written = messages();
  ASSERT_EQ(4u, written.size());
  EXPECT_EQ(0u, written[0].find("[4][utils]local radio handle = 0x")) << written[0];
  EXPECT_EQ("[4][utils]Local Bluetooth radio info version = 2209, Manufacturer = 1d\n", written[1]);
  EXPECT_EQ("[4][utils]send HCI command successfully.\n", written[3]);

  // The identifier is cached: the radio is not asked again.
  sim_.debugOutput.clear();
  sim_.radio.setRadio(0, false);
  EXPECT_EQ(0u, SendRssiCmdWithAddr(address));
  EXPECT_EQ(2u, messages().size());
  EXPECT_EQ(0xFFFFFFFEu, SendRssiCmdWithAddr(nullptr)) << "no address, nothing sent";
  EXPECT_EQ(2u, sim_.bus.requests().size());
}

TEST_F(SignalCommandTest, StatusIsReadOnlyFromACommandCompleteEvent) {
  BYTE status = 0x77;
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE* out) {
    sim::writeCommandComplete(out, 1024, 0xFC59, 1);
    return DWORD{0};
  });
  EXPECT_EQ(0u, radio::SendBusHciCommand(0xFC59, 0, nullptr, FALSE, 0, &status));
  EXPECT_EQ(1, status);

  for (const Bytes& answer :
       {Bytes{0x0F, 4, 1, 0x59, 0xFC, 9}, Bytes{0x0E, 3, 1, 0x59, 0xFC, 9}, Bytes{0x0E, 4, 2, 0x59, 0xFC, 9}}) {
    sim_.bus.setAnswer([answer](const sim::SimBus::Request&, BYTE* out) {
      std::copy(answer.begin(), answer.end(), out);
      return DWORD{0};
    });
    status = 0x77;
    EXPECT_EQ(0u, radio::SendBusHciCommand(0xFC59, 0, nullptr, FALSE, 0, &status));
    EXPECT_EQ(0x77, status);
  }
  const BYTE complete[] = {0x0E, 4, 1, 0x59, 0xFC, 0};
  EXPECT_TRUE(radio::isCommandComplete(complete, sizeof complete));
  EXPECT_FALSE(radio::isCommandComplete(complete, 5));
}

TEST_F(SignalCommandTest, FailuresMapToTheirResultsAndTraceLines) {
  struct Case {
    DWORD error;
    DWORD result;
    bool traced;
  } cases[] = {
      {ERROR_INVALID_FUNCTION, 1, true}, {ERROR_IO_PENDING, 997, false}, {ERROR_GEN_FAILURE, 0xFFFFFFFE, true}};
  radio::SendBusHciCommand(0xFC59, 0, nullptr, FALSE, 0, nullptr);  // fills the cache
  for (const auto& c : cases) {
    sim_.debugOutput.clear();
    sim_.bus.setAnswer([c](const sim::SimBus::Request&, BYTE*) { return c.error; });
    EXPECT_EQ(c.result, radio::SendBusHciCommand(0xFC59, 0, nullptr, FALSE, 0, nullptr));
    const auto written = messages();
    ASSERT_EQ(c.traced ? 2u : 1u, written.size());
    if (c.traced) {
      EXPECT_EQ("[4][utils]send HCI command failed error = " + std::to_string(c.error) + "\n", written[1]);
    }
  }

  // No bus driver: the lookup's error decides.
  sim_.debugOutput.clear();
  sim_.bus.setInterfaces({});
  EXPECT_EQ(0xFFFFFFFEu, radio::SendBusHciCommand(0xFC59, 0, nullptr, FALSE, 0, nullptr));
  EXPECT_EQ((std::vector<std::string>{"[4][utils]Error:Interface GUID_DEVINTERFACE_BUSENUM_VRLBUS is not registered\n",
                                      "[4][utils][HIDDEBUG] EnumBusDevice handle = 0\n",
                                      "[4][utils]send HCI command failed error = 259\n"}),
            messages());
}

}  // namespace
}  // namespace utils::test
