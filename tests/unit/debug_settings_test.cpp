#include "sim_fixture.h"
#include "utils/trace.h"

namespace utils::test {
namespace {

using DebugSettingsTest = SimTest;

TEST_F(DebugSettingsTest, MissingKeyGivesZeroMasksAndOneAppDebugLineReadOnlyWhenNeeded) {
  diag::processAttach();
  EXPECT_EQ(0u, diag::logLevelMask());
  // A null format does not read the trace mask.
  const int queries = sim_.registry.calls(sim::SimRegistry::Op::Query);
  VRLN_BT_TRACE(nullptr);
  VRLN_BT_TRACE_BME_W(nullptr);
  VRLN_BT_ATLTRACE_A(nullptr);
  EXPECT_TRUE(lines().empty());
  EXPECT_EQ(queries, sim_.registry.calls(sim::SimRegistry::Op::Query));
  VRLN_BT_TRACE("hello %d", 1);
  VRLN_BT_TRACE("again");
  VRLN_BT_ATLTRACE_U(L"wide");
  WRITELOG_A(0xFFFF, "m", "never");
  EXPECT_EQ(std::vector<std::string>{"AppDebug=0\n"}, lines());
}

TEST_F(DebugSettingsTest, MasksAreReadOnceAsLittleEndianUpToFourBytes) {
  setSetting(L"LogDebug", REG_DWORD, {0x0C, 0, 0, 0});
  diag::processAttach();
  EXPECT_EQ(0x0Cu, diag::logLevelMask());
  // A change takes effect at the next load only.
  setSetting(L"LogDebug", REG_DWORD, {0, 0, 0, 0});
  WRITELOG_A(4, "utils", "still on");
  EXPECT_EQ(1u, lines().size());
  // Fewer bytes leave the high bytes zero; the type is not examined.
  setSetting(L"LogDebug", REG_BINARY, {0x34, 0x12});
  diag::processAttach();
  EXPECT_EQ(0x1234u, diag::logLevelMask());
  // A value longer than four bytes counts as absent.
  setSetting(L"LogDebug", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
  diag::processAttach();
  EXPECT_EQ(0u, diag::logLevelMask());

  // The trace mask keeps the low sixteen bits and is read once.
  sim_.debugOutput.clear();
  setSetting(L"EnableAppDebug", REG_DWORD, {0x03, 0x00, 0x01, 0x00});
  EXPECT_EQ(3u, diag::GetAppDebugMask());
  setSetting(L"EnableAppDebug", REG_DWORD, {0x08, 0, 0, 0});
  EXPECT_EQ(3u, diag::GetAppDebugMask());
  EXPECT_EQ(std::vector<std::string>{"AppDebug=3\n"}, lines());
  diag::resetDebugSettings();
  setSetting(L"EnableAppDebug", REG_BINARY, {0x05});  // a single byte: high byte 0
  EXPECT_EQ(5u, diag::GetAppDebugMask());
}

TEST_F(DebugSettingsTest, RegistryFailuresAreSilentAndLeaveNoKeyOpen) {
  setSetting(L"LogDebug", REG_DWORD, {4, 0, 0, 0});
  sim_.registry.failNext(sim::SimRegistry::Op::Query, ERROR_ACCESS_DENIED);
  diag::processAttach();
  EXPECT_EQ(0u, diag::logLevelMask());
  sim_.registry.failNext(sim::SimRegistry::Op::Open, ERROR_ACCESS_DENIED);
  EXPECT_EQ(0u, diag::GetAppDebugMask());
  EXPECT_EQ(0u, sim_.registry.openHandles());
  EXPECT_EQ(std::vector<std::string>{"AppDebug=0\n"}, lines());
}

TEST_F(DebugSettingsTest, ConcurrentFirstCallsReadOnceAndAgree) {
  setSetting(L"EnableAppDebug", REG_DWORD, {0x08, 0, 0, 0});
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&wrong] {
      if (diag::GetAppDebugMask() != 8u) ++wrong;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, wrong.load());
  EXPECT_EQ(std::vector<std::string>{"AppDebug=8\n"}, lines());
}

}  // namespace
}  // namespace utils::test
