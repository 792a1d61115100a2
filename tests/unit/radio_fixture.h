// The simulated platform with a radio, a bus driver and a socket layer, and the
// process-wide radio state reset around each test.
#pragma once

#include <string>
#include <vector>

#include "radio/signal_command.h"
#include "radio/stack_checks.h"
#include "sim_fixture.h"
#include "utils/radio.h"

namespace utils::test {

// Releases a handle that the library handed out: CloseHandle on Linux. On
// Windows the system's CloseHandle knows nothing of simulated handles, so the
// simulated ports release them.
inline BOOL releaseHandle(HANDLE handle) {
#if defined(_WIN32)
  const auto& ports = port::platform();
  return ports.bus->close(handle) == 0 || ports.radio->close(handle) == 0 ? TRUE : FALSE;
#else
  return CloseHandle(handle);
#endif
}

class RadioTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    radio::resetCachedRadioInfo();
    radio::resetRemoveFlag();
    load(0x4, 0x2);           // level-4 lines and the wide ATL trace lines
    diag::GetAppDebugMask();  // its one-time line is not part of any test
    sim_.debugOutput.clear();
    BLUETOOTH_RADIO_INFO details{};
    details.manufacturer = 0x1D;
    details.lmpSubversion = 0x2209;
    sim_.radio.setRadioDetails(details);
    sim_.radio.setRadio(0x0000112233445566ULL);
    sim_.bus.setInterfaces({L"\\\\?\\vrlbus#0"});
  }
  void TearDown() override {
    EXPECT_EQ(0u, sim_.radio.openHandles()) << "a radio handle or search was left open";
    EXPECT_EQ(0u, sim_.bus.openHandleCount()) << "a bus handle was left open";
    radio::resetCachedRadioInfo();
    radio::resetRemoveFlag();
    SimTest::TearDown();
  }

  // The written lines without the time prefix and without the newline that
  // ends every prefixed line: "[4][utils]message".
  std::vector<std::string> messages() const {
    std::vector<std::string> result;
    for (const auto& line : lines()) {
      const auto end = line.find(']');
      std::string message = end == std::string::npos ? line : line.substr(end + 1);
      if (!message.empty() && message.back() == '\n') message.pop_back();
      result.push_back(message);
    }
    return result;
  }
};

}  // namespace utils::test
