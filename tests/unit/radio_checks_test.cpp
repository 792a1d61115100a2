// The stack and driver checks, on a virtual clock, and the paired-device count.
#include "radio/paired_count.h"
#include "radio_fixture.h"
#include "utils/radio.h"

namespace utils::test {
namespace {

using StackCheckTest = RadioTest;
using PairedCountTest = RadioTest;
using Outcome = sim::SimRfcomm::Outcome;

constexpr Outcome kSocketFails{10047, port::RfcommProbeStep::kSocket};
constexpr Outcome kBindFails{10048, port::RfcommProbeStep::kBind};

class DriverReadyTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    sim_.radio.setInterfaces({{0, L"radio0"}});
  }
};

TEST_F(StackCheckTest, CheckBtStackIsStartProbesOnceAndNeverPauses) {
  EXPECT_EQ(1u, CheckBtStackIsStart());
  sim_.rfcomm.setDefaultOutcome(kBindFails);
  EXPECT_EQ(0u, CheckBtStackIsStart());
  EXPECT_EQ(2, sim_.rfcomm.probes());
  EXPECT_EQ(2, sim_.rfcomm.cleanups());
  EXPECT_EQ(0u, sim_.clock.monotonicMs());
  EXPECT_TRUE(lines().empty());

  sim_.rfcomm.failStartup(10091);
  EXPECT_EQ(0u, CheckBtStackIsStart());
  EXPECT_EQ(2, sim_.rfcomm.probes()) << "no probe without the socket layer";
}

TEST_F(DriverReadyTest, NoRadioInterfaceMeansNotReadyAtOnce) {
  sim_.radio.setInterfaces({});
  EXPECT_EQ(0u, BtDriverIsReady());
  EXPECT_EQ(0, sim_.rfcomm.startups()) << "the socket layer is not touched";

  // The last interface counts: a failing last one is not ready even after a good one.
  sim_.radio.setInterfaces({{0, L"good"}, {0, L"bad"}});
  sim_.radio.failOpenInterface(L"bad", ERROR_ACCESS_DENIED);
  EXPECT_EQ(0u, BtDriverIsReady());
  EXPECT_EQ((std::vector<std::wstring>{L"good", L"bad"}), sim_.radio.openedInterfaces());
  sim_.radio.setInterfaces({{0, L"good"}, {ERROR_GEN_FAILURE, L""}});
  EXPECT_EQ(0u, BtDriverIsReady()) << "an interface without a readable detail counts as not opened";
  EXPECT_EQ(0, sim_.rfcomm.startups());

  sim_.radio.failInterfaceList(ERROR_GEN_FAILURE);
  EXPECT_EQ(0u, BtDriverIsReady());
}

// A stack that never binds (in use; or, whatever the error, no usable radio) is
// probed fifty times half a second apart.
TEST_F(DriverReadyTest, AStackThatNeverBindsIsProbedFiftyTimesHalfASecondApart) {
  sim_.rfcomm.setDefaultOutcome(kBindFails);
  SetDeviceRemoveFlag(1);  // only 2 counts as ready
  EXPECT_EQ(0u, BtDriverIsReady());
  EXPECT_EQ(50, sim_.rfcomm.probes());
  EXPECT_EQ(25000u, sim_.clock.monotonicMs());
  const auto written = messages();
  ASSERT_EQ(50u, written.size());
  EXPECT_EQ("[4][]bind() call failed socket=[0x101], WSAGetLastError=[10048]\n", written[0]);
  EXPECT_EQ(1, sim_.rfcomm.startups());
  EXPECT_EQ(1, sim_.rfcomm.cleanups());
}

TEST_F(DriverReadyTest, ABindAtTheThirdAttemptIsReadyAfterTwoPauses) {
  sim_.rfcomm.scriptProbes({kSocketFails, kBindFails, Outcome{}});
  EXPECT_EQ(1u, BtDriverIsReady());
  EXPECT_EQ(3, sim_.rfcomm.probes());
  EXPECT_EQ(1000u, sim_.clock.monotonicMs());
  EXPECT_EQ((std::vector<std::string>{"[4][]socket() call failed. WSAGetLastError = [10047]\n",
                                      "[4][]bind() call failed socket=[0x102], WSAGetLastError=[10048]\n"}),
            messages());
}

TEST_F(DriverReadyTest, TheRemoveFlagAtTwoCountsAsReadyWithoutProbing) {
  SetDeviceRemoveFlag(2);
  sim_.rfcomm.setDefaultOutcome(kBindFails);
  EXPECT_EQ(1u, BtDriverIsReady());
  EXPECT_EQ(0, sim_.rfcomm.probes());
  EXPECT_EQ(0u, sim_.clock.monotonicMs());

  // A flag set to 2 by another thread mid-run ends the pauses.
  SetDeviceRemoveFlag(1);
  int ticks = 0;
  sim_.rfcomm.onProbe([&](int) {
    if (++ticks == 10) SetDeviceRemoveFlag(2);
  });
  const uint64_t before = sim_.clock.monotonicMs();
  EXPECT_EQ(1u, BtDriverIsReady());
  EXPECT_EQ(10, ticks);
  EXPECT_EQ(5000u, sim_.clock.monotonicMs() - before);
}

TEST_F(StackCheckTest, DeviceIsVorlaneNeedsOneDescriptionThatFits) {
  EXPECT_EQ(0u, DeviceIsVorlane()) << "no radio device";
  sim_.radio.setDeviceDescriptions({std::wstring(64, L'x'), std::wstring(80, L'y')});
  EXPECT_EQ(0u, DeviceIsVorlane()) << "64 characters and the terminator need 130 bytes";
  sim_.radio.setDeviceDescriptions({std::wstring(64, L'x'), std::wstring(63, L'y')});
  EXPECT_EQ(1u, DeviceIsVorlane());
  sim_.radio.setDeviceDescriptions({L""});
  EXPECT_EQ(1u, DeviceIsVorlane()) << "the text is not examined";
  sim_.radio.failInterfaceList(ERROR_GEN_FAILURE);
  EXPECT_EQ(0u, DeviceIsVorlane());
  EXPECT_TRUE(lines().empty());
}

TEST_F(PairedCountTest, CountsRememberedDevicesInEightBits) {
  EXPECT_EQ(0, radio::CountPairedDevices());
  for (BTH_ADDR a = 1; a <= 3; ++a) sim_.radio.addDevice(a, {});
  sim_.radio.addDevice(4, {});
  sim_.radio.setDeviceFlags(4, true, false);  // connected, not remembered
  EXPECT_EQ(3, radio::CountPairedDevices());

  for (BTH_ADDR a = 5; a <= 257; ++a) sim_.radio.addDevice(a, {});
  EXPECT_EQ(0, radio::CountPairedDevices()) << "256 remembered devices wrap to 0";
  for (BTH_ADDR a = 258; a <= 301; ++a) sim_.radio.addDevice(a, {});
  EXPECT_EQ(44, radio::CountPairedDevices()) << "300 remembered devices";

  sim_.radio.setRadio(0, false);
  EXPECT_EQ(0, radio::CountPairedDevices());
}

TEST_F(PairedCountTest, NotifySendsTheCountRequestWithItsTraceLines) {
  for (BTH_ADDR a = 1; a <= 3; ++a) sim_.radio.addDevice(a, {});
  NotifyDriverPairedDeviceNum();
  auto requests = sim_.bus.requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(0x9C402644u, requests[0].code);
  ASSERT_EQ(2092u, requests[0].input.size());
  EXPECT_EQ((std::vector<BYTE>{0x0A, 0, 0, 0, 3, 0, 0, 0}),
            std::vector<BYTE>(requests[0].input.begin(), requests[0].input.begin() + 8));
  EXPECT_EQ(32u, requests[0].outputSize);
  EXPECT_EQ(std::vector<std::string>{"[4][]Try to send the Paired Device Number event to btfilter, the number is 3\n"},
            messages());

  // A failed request is traced; no radio sends 0.
  sim_.debugOutput.clear();
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE*) { return DWORD{ERROR_GEN_FAILURE}; });
  sim_.radio.setRadio(0, false);
  NotifyDriverPairedDeviceNum();
  requests = sim_.bus.requests();
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ(0, requests[1].input[4]);
  EXPECT_EQ((std::vector<std::string>{"[4][]Try to send the Paired Device Number event to btfilter, the number is 0\n",
                                      "[4][]Fail to fire paired device number to driver, error code is 0x1f!\n"}),
            messages());

  // No bus driver: nothing is sent and nothing traced.
  sim_.debugOutput.clear();
  sim_.bus.setInterfaces({});
  NotifyDriverPairedDeviceNum();
  EXPECT_EQ(2u, sim_.bus.requests().size());
  EXPECT_TRUE(lines().empty());
}

}  // namespace
}  // namespace utils::test
