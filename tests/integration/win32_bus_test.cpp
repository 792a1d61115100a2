// The Win32 bus adapter: the driver's interface class as SetupAPI answers for it
// (absent here), and open / I/O control / close on a real kernel object (a named
// pipe, whose peek request answers like a driver: output bytes and a count). Its
// lookup on a present class and its failed opens: win32_radio_test.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "port/win32/bus_device_interface.h"
#include "wine_detect.h"

namespace {

using utils::port::BusInterface;
using utils::port::BusLookupStep;
using utils::win32port::Win32Bus;

// A named pipe's peek request (FSCTL_PIPE_PEEK, missing from the MinGW headers):
// 16 bytes of state, then the unread data.
constexpr DWORD kPipePeek = 0x0011400C;
constexpr DWORD kPeekHeaderBytes = 16;
constexpr DWORD kVendorCommand = 0x9C4024C8;

TEST(Win32BusTest, AbsentDriverStopsAtTheEnumerationWithNoMoreItems) {
  Win32Bus bus;
  BusInterface found;
  found.path = L"left over";
  const DWORD error = bus.findFirstInterface(&found);
  if (error == 0 && !utils::testing::runningUnderWine()) GTEST_SKIP() << "the bus driver is installed here";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(found.failedStep, BusLookupStep::kEnumerate);
  EXPECT_TRUE(found.path.empty());
}

TEST(Win32BusTest, IoControlIsSynchronousWithOutputAndCount) {
  const std::wstring name = L"\\\\.\\pipe\\utils-test-bus-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();

  Win32Bus bus;
  HANDLE handle = INVALID_HANDLE_VALUE;
  ASSERT_EQ(bus.open(name.c_str(), &handle), 0u);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(server, "hello", 5, &written, nullptr));

  // The answer is there when the call returns.
  BYTE output[64] = {};
  DWORD returned = 0;
  ASSERT_EQ(bus.ioControl(handle, kPipePeek, nullptr, 0, output, sizeof output, &returned), 0u);
  EXPECT_EQ(returned, kPeekHeaderBytes + 5);
  DWORD available = 0;
  std::memcpy(&available, output + 4, sizeof available);
  EXPECT_EQ(available, 5u);
  EXPECT_EQ(std::memcmp(output + kPeekHeaderBytes, "hello", 5), 0);
  // The count may be left out.
  EXPECT_EQ(bus.ioControl(handle, kPipePeek, nullptr, 0, output, sizeof output, nullptr), 0u);

  // Failures give the system's error and no count, whatever was there before.
  returned = 99;
  EXPECT_NE(bus.ioControl(handle, kPipePeek, nullptr, 0, output, 4, &returned), 0u);
  EXPECT_EQ(returned, 0u);
  BYTE request[10] = {};
  returned = 99;
  EXPECT_NE(bus.ioControl(handle, kVendorCommand, request, sizeof request, output, sizeof output, &returned), 0u);
  EXPECT_EQ(returned, 0u);

  EXPECT_EQ(bus.close(handle), 0u);
  EXPECT_EQ(bus.ioControl(handle, kPipePeek, nullptr, 0, output, sizeof output, &returned),
            static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(bus.close(handle), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(server);
}

}  // namespace
