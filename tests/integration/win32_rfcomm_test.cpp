// The Win32 socket probe: Winsock start-up and clean-up pair as the port
// promises, and a system without Bluetooth sockets refuses the socket with its
// Winsock error, reported at the socket step with no socket left behind.
#include <gtest/gtest.h>
#include <winsock2.h>

#include "port/win32/rfcomm_winsock.h"
#include "wine_detect.h"

namespace {

using utils::port::RfcommProbe;
using utils::port::RfcommProbeStep;
using utils::win32port::Win32Rfcomm;

// Whether this system makes Bluetooth sockets at all (the test is about a system
// that does not).
bool systemHasBluetoothSockets() {
  WSADATA data{};
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  const SOCKET probe = socket(32 /* AF_BTH */, SOCK_STREAM, 3 /* BTHPROTO_RFCOMM */);
  const bool made = probe != INVALID_SOCKET;
  if (made) closesocket(probe);
  WSACleanup();
  return made;
}

TEST(Win32RfcommTest, EveryStartupIsBalancedByOneCleanup) {
  Win32Rfcomm rfcomm;
  RfcommProbe probe;
  // Before any start-up of ours the socket layer refuses the call: with
  // WSANOTINITIALISED, or (where a library the DLL loads has started the socket
  // layer for the process, as under Wine) with what it says of the socket.
  const DWORD before = rfcomm.probe(&probe);
  EXPECT_NE(before, 0u);
  EXPECT_EQ(probe.failedStep, RfcommProbeStep::kSocket);

  ASSERT_EQ(rfcomm.startup(), 0u);
  ASSERT_EQ(rfcomm.startup(), 0u);
  rfcomm.cleanup();
  // One start-up is still in force.
  EXPECT_NE(rfcomm.probe(&probe), static_cast<DWORD>(WSANOTINITIALISED));
  rfcomm.cleanup();
  // Both are undone: the layer answers as it did before them.
  EXPECT_EQ(rfcomm.probe(&probe), before);
}

TEST(Win32RfcommTest, RefusedSocketIsReportedAtTheSocketStep) {
  if (systemHasBluetoothSockets()) GTEST_SKIP() << "this system makes Bluetooth sockets";
  Win32Rfcomm rfcomm;
  ASSERT_EQ(rfcomm.startup(), 0u);
  for (int attempt = 0; attempt < 3; ++attempt) {
    RfcommProbe probe;
    probe.socket = 1234;
    probe.failedStep = RfcommProbeStep::kBind;
    const DWORD error = rfcomm.probe(&probe);
    // 10047 (no such address family) on Windows, 10043 (no such protocol) on Wine.
    EXPECT_TRUE(error == WSAEAFNOSUPPORT || error == WSAEPROTONOSUPPORT || error == WSAESOCKTNOSUPPORT) << error;
    EXPECT_EQ(probe.failedStep, RfcommProbeStep::kSocket);
    EXPECT_EQ(probe.socket, 0u) << "a socket was reported although none was made";
  }
  rfcomm.cleanup();
}

}  // namespace
