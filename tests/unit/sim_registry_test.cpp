// The simulated registry against the registry contract, plus its test controls.
#include "port/sim/sim_registry.h"

#include "unit/registry_contract.h"

namespace {

using utils::sim::SimRegistry;

struct SimFactory {
  using Registry = SimRegistry;
  std::unique_ptr<SimRegistry> make() { return std::make_unique<SimRegistry>(); }
  std::unique_ptr<SimRegistry> makeReadOnlyMachine() {
    auto registry = std::make_unique<SimRegistry>();
    registry->setReadOnly(HKEY_LOCAL_MACHINE, true);
    return registry;
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, RegistryContract, ::testing::Types<SimFactory>);

TEST(SimRegistryControls, InjectedFaultsCountCallsAndExpire) {
  SimRegistry registry;
  const DWORD value = 5;
  ASSERT_EQ(registry.setValue(HKEY_CURRENT_USER, L"v", REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
            DWORD{ERROR_SUCCESS});
  registry.failNext(SimRegistry::Op::Query, DWORD{ERROR_BUSY}, 2);
  DWORD size = 4;
  DWORD read = 0;
  EXPECT_EQ(registry.queryValue(HKEY_CURRENT_USER, L"v", nullptr, reinterpret_cast<BYTE*>(&read), &size),
            DWORD{ERROR_BUSY});
  EXPECT_EQ(registry.queryValue(HKEY_CURRENT_USER, L"v", nullptr, reinterpret_cast<BYTE*>(&read), &size),
            DWORD{ERROR_BUSY});
  EXPECT_EQ(registry.queryValue(HKEY_CURRENT_USER, L"v", nullptr, reinterpret_cast<BYTE*>(&read), &size),
            DWORD{ERROR_SUCCESS});
  EXPECT_EQ(read, 5u);
  EXPECT_EQ(registry.calls(SimRegistry::Op::Query), 3);

  registry.failNext(SimRegistry::Op::Set, DWORD{ERROR_DISK_FULL}, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(registry.setValue(HKEY_CURRENT_USER, L"v", REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
              DWORD{ERROR_DISK_FULL});
  }
  registry.clear();
  EXPECT_EQ(registry.queryValue(HKEY_CURRENT_USER, L"v", nullptr, nullptr, nullptr), DWORD{ERROR_FILE_NOT_FOUND})
      << "clear removes values and faults";
  EXPECT_EQ(registry.setValue(HKEY_CURRENT_USER, L"v", REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
            DWORD{ERROR_SUCCESS});
}

}  // namespace
