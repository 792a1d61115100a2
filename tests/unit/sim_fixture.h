// A fresh simulated platform per test, installed before the load step runs.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diag/debug_settings.h"
#include "port/sim/sim_platform.h"

namespace utils::test {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim_.install();
    diag::resetDebugSettings();
  }
  void TearDown() override { diag::resetDebugSettings(); }

  // Stores a machine-wide debug setting under "Software\vorlane".
  void setSetting(const wchar_t* name, DWORD type, std::initializer_list<BYTE> bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(0u, sim_.registry.createKey(HKEY_LOCAL_MACHINE, L"Software\\vorlane", KEY_WRITE, &key, nullptr));
    std::vector<BYTE> data(bytes);
    ASSERT_EQ(0u, sim_.registry.setValue(key, name, type, data.data(), static_cast<DWORD>(data.size())));
    sim_.registry.closeKey(key);
  }

  // Sets the two masks as a load would read them.
  void load(DWORD logDebug, DWORD appDebug) {
    setSetting(L"LogDebug", REG_DWORD,
               {BYTE(logDebug), BYTE(logDebug >> 8), BYTE(logDebug >> 16), BYTE(logDebug >> 24)});
    setSetting(L"EnableAppDebug", REG_DWORD,
               {BYTE(appDebug), BYTE(appDebug >> 8), BYTE(appDebug >> 16), BYTE(appDebug >> 24)});
    diag::processAttach();
  }

  std::vector<std::string> lines() const { return sim_.debugOutput.narrowLines(); }

  sim::SimPlatform sim_;
};

}  // namespace utils::test
