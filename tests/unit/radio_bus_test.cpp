// Opening the bus driver and the first radio, and the vendor HCI command channel.
#include <functional>

#include "port/sim/sim_bus.h"
#include "radio/bus_device.h"
#include "radio_fixture.h"
#include "utils/radio.h"

namespace utils::test {
namespace {

using Bytes = std::vector<BYTE>;
using BusDeviceTest = RadioTest;
using VendorCommandTest = RadioTest;

TEST_F(BusDeviceTest, OpenBusHandleOpensTheFirstInterfaceOnly) {
  sim_.bus.setInterfaces({L"first", L"second"});
  HANDLE bus = OpenBusHandle();
  ASSERT_NE(nullptr, bus);
  EXPECT_EQ(std::vector<std::wstring>{L"first"}, sim_.bus.openedPaths());
  EXPECT_EQ(1u, sim_.bus.openHandleCount());
  EXPECT_EQ(TRUE, releaseHandle(bus));
  EXPECT_EQ(FALSE, releaseHandle(bus)) << "a handle closes once";
  EXPECT_EQ(FALSE, releaseHandle(nullptr));
  EXPECT_TRUE(lines().empty()) << "OpenBusHandle writes no trace lines";
  HANDLE handle = nullptr;
  EXPECT_EQ(TRUE, radio::EnumBusDevice(&handle));
  EXPECT_EQ(TRUE, releaseHandle(handle));
}

// Each way the lookup or the open fails: EnumBusDevice's handle (left as it was
// when the lookup failed, invalid when the open failed) and trace line;
// OpenBusHandle gives null.
TEST_F(BusDeviceTest, EachLookupFailureHasItsHandleAndTraceLine) {
  const auto untouched = reinterpret_cast<HANDLE>(uintptr_t{0x77});
  struct Case {
    std::function<void(sim::SimBus&)> fail;
    HANDLE handle;
    const char* line;  // empty: no line
  } cases[] = {
      // in this order: a failed lookup stays failed
      {[](sim::SimBus& bus) { bus.failOpen(ERROR_ACCESS_DENIED); }, INVALID_HANDLE_VALUE,
       "[4][utils]CreateFile failed: 0x5"},
      {[](sim::SimBus& bus) { bus.setInterfaces({}); }, untouched,
       "[4][utils]Error:Interface GUID_DEVINTERFACE_BUSENUM_VRLBUS is not registered\n"},
      {[](sim::SimBus& bus) { bus.failLookup(port::BusLookupStep::kDeviceList, 0xD, 300); }, untouched,
       "[4][utils]SetupDiGetClassDevs failed: d\n"},
      {[](sim::SimBus& bus) { bus.failLookup(port::BusLookupStep::kEnumerate, 5, 300); }, untouched, ""},
      {[](sim::SimBus& bus) { bus.failLookup(port::BusLookupStep::kDetailSize, 87, 300); }, untouched,
       "[4][utils]Error in SetupDiGetDeviceInterfaceDetail87\n"},
      {[](sim::SimBus& bus) { bus.failLookup(port::BusLookupStep::kDetailAlloc, 8, 300); }, untouched,
       "[4][utils]Couldn't allocate 300 bytes for device interface details.\n"},
      {[](sim::SimBus& bus) { bus.failLookup(port::BusLookupStep::kDetail, 31, 300); }, untouched,
       "[4][utils]Error in SetupDiGetDeviceInterfaceDetail\n"},
  };
  for (const auto& c : cases) {
    sim_.debugOutput.clear();
    c.fail(sim_.bus);
    HANDLE handle = untouched;
    EXPECT_EQ(FALSE, radio::EnumBusDevice(&handle)) << c.line;
    EXPECT_EQ(c.handle, handle) << c.line;
    EXPECT_EQ(*c.line == '\0' ? std::vector<std::string>{} : std::vector<std::string>{c.line}, messages());
    EXPECT_EQ(nullptr, OpenBusHandle()) << c.line;
  }
}

TEST_F(BusDeviceTest, FirstRadioWithAndWithoutItsInformation) {
  BLUETOOTH_RADIO_INFO info{};
  HANDLE radio = EnumerateFirstBthRadioHandle(&info);
  ASSERT_NE(nullptr, radio);
  EXPECT_EQ(520u, info.dwSize);
  EXPECT_EQ(0x1Du, info.manufacturer);
  EXPECT_EQ(0x0000112233445566ULL, info.address.ullLong);
  EXPECT_EQ(TRUE, releaseHandle(radio));

  radio = EnumerateFirstBthRadioHandle(nullptr);
  ASSERT_NE(nullptr, radio);
  EXPECT_EQ(TRUE, releaseHandle(radio));

  // Unreadable information: the radio is still returned, the record as the query left it.
  sim_.radio.failNext(sim::SimRadio::Op::GetRadioInfo, ERROR_GEN_FAILURE);
  BLUETOOTH_RADIO_INFO untouched{};
  untouched.manufacturer = 0xBEEF;
  radio = EnumerateFirstBthRadioHandle(&untouched);
  ASSERT_NE(nullptr, radio);
  EXPECT_EQ(0xBEEFu, untouched.manufacturer);
  EXPECT_EQ(520u, untouched.dwSize);
  EXPECT_EQ(TRUE, releaseHandle(radio));
  EXPECT_TRUE(lines().empty());

  sim_.radio.setRadio(0, false);
  EXPECT_EQ(nullptr, EnumerateFirstBthRadioHandle(&info));
}

TEST_F(VendorCommandTest, RequestLayoutsAndLengthBytes) {
  const BYTE params[] = {0x10, 0x20, 0x30, 0x40};
  struct Row {
    WORD opcode;
    int count;
    const BYTE* parameters;
    BOOL withPattern;
    BYTE pattern;
    Bytes input;
  } rows[] = {
      // Without parameters: length byte 1 and one zero byte; with a pattern 3: 0, 1, pattern.
      {0xFC01, 0, nullptr, FALSE, 0, {0x1D, 0, 0, 0, 0, 1, 0x01, 0xFC, 1, 0}},
      {0xFC01, 0, nullptr, TRUE, 0xAA, {0x1D, 0, 0, 0, 0, 1, 0x01, 0xFC, 3, 0, 1, 0xAA}},
      {0x1234, 4, params, TRUE, 0x5C, {0x1D, 0, 0, 0, 0, 1, 0x34, 0x12, 7, 0x10, 0x20, 0x30, 0x40, 4, 1, 0x5C}},
      {0xFC03, 2, nullptr, FALSE, 0, {0x1D, 0, 0, 0, 0, 1, 0x03, 0xFC, 2, 0, 0}},  // announced, not given: zeros
  };
  for (const Row& row : rows) {
    EXPECT_EQ(0u, SendVendorHCICmd(row.opcode, row.count, row.parameters, row.withPattern, row.pattern));
    const auto request = sim_.bus.requests().back();
    EXPECT_EQ(row.input, request.input) << row.count;
    EXPECT_EQ(0x9C4024C8u, request.code);
    EXPECT_EQ(1024u, request.outputSize);
  }
  // n = 253 with a pattern: the length byte wraps to 0 and becomes 1.
  const Bytes many(253, 0x11);
  EXPECT_EQ(0u, SendVendorHCICmd(0xFC02, 253, many.data(), TRUE, 0x01));
  const auto request = sim_.bus.requests().back();
  EXPECT_EQ(265u, request.input.size());
  EXPECT_EQ(1, request.input[8]);
  EXPECT_EQ(253, request.input[262]);
}

TEST_F(VendorCommandTest, AnswerCopiesAreBoundedByTheCallersSizeAndTheBuffer) {
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE* output) {
    for (int i = 0; i < 1024; ++i) output[i] = static_cast<BYTE>(i + 1);
    return DWORD{0};
  });
  std::vector<BYTE> big(2000, 0xEE);
  EXPECT_EQ(0u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, big.data(), 2000));
  EXPECT_EQ(1, big[0]);
  EXPECT_EQ(static_cast<BYTE>(1024), big[1023]);
  EXPECT_EQ(0xEE, big[1024]) << "never more than the 1024-byte answer";

  std::vector<BYTE> small(16, 0xEE);
  EXPECT_EQ(0u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, small.data(), 10));
  EXPECT_EQ(10, small[9]);
  EXPECT_EQ(0xEE, small[10]);

  std::vector<BYTE> none(4, 0xEE);
  EXPECT_EQ(0u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, none.data(), 0));
  EXPECT_EQ(0xEE, none[0]);
  EXPECT_EQ(0u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, nullptr, 100));
}

TEST_F(VendorCommandTest, FailuresAreReturnedAndNeverTraced) {
  std::vector<BYTE> output(8, 0xEE);
  sim_.bus.setAnswer([](const sim::SimBus::Request&, BYTE* out) {
    out[0] = 0x42;
    return DWORD{ERROR_INVALID_FUNCTION};
  });
  EXPECT_EQ(1u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, output.data(), 8));
  EXPECT_EQ(0xEE, output[0]) << "the caller's buffer is written only on success";

  sim_.bus.failOpen(ERROR_ACCESS_DENIED);
  EXPECT_EQ(5u, SendVendorHCICmdEx(0xFC01, 0, nullptr, FALSE, 0, output.data(), 8));
  sim_.bus.setInterfaces({});
  EXPECT_EQ(259u, SendVendorHCICmd(0xFC01, 0, nullptr, FALSE, 0));
  EXPECT_TRUE(lines().empty());

  // No radio: before the bus driver is touched.
  const size_t requests = sim_.bus.requests().size();
  sim_.bus.setInterfaces({L"bus"});
  sim_.radio.setRadio(0, false);
  EXPECT_EQ(0xFFFFFFFFu, SendVendorHCICmd(0xFC01, 0, nullptr, FALSE, 0));
  EXPECT_EQ(requests, sim_.bus.requests().size());
  EXPECT_TRUE(sim_.bus.openedPaths().size() == 2u) << "only the two earlier attempts opened the bus";
}

TEST_F(VendorCommandTest, UnreadableRadioInformationSendsCompanyZeroAndANegativeCountIsRefused) {
  sim_.radio.failNext(sim::SimRadio::Op::GetRadioInfo, ERROR_GEN_FAILURE);
  EXPECT_EQ(0u, SendVendorHCICmd(0xFC01, 0, nullptr, FALSE, 0));
  const auto request = sim_.bus.requests().back();
  EXPECT_EQ((Bytes{0, 0, 0, 0}), Bytes(request.input.begin(), request.input.begin() + 4));

  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), SendVendorHCICmd(0xFC01, -1, nullptr, FALSE, 0));
  EXPECT_EQ(1u, sim_.bus.requests().size()) << "a negative count sends nothing";
}

}  // namespace
}  // namespace utils::test
