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
  using registry_contract::dwordBytes;
  using registry_contract::readBytes;
  using registry_contract::setBytes;
  SimRegistry registry;
  ASSERT_EQ(setBytes(registry, HKEY_CURRENT_USER, L"v", REG_DWORD, dwordBytes(5)), ERROR_SUCCESS);
  registry.failNext(SimRegistry::Op::Query, ERROR_BUSY, 2);
  std::vector<BYTE> bytes;
  EXPECT_EQ(readBytes(registry, HKEY_CURRENT_USER, L"v", &bytes), ERROR_BUSY);
  EXPECT_EQ(readBytes(registry, HKEY_CURRENT_USER, L"v", &bytes), ERROR_BUSY);
  EXPECT_EQ(readBytes(registry, HKEY_CURRENT_USER, L"v", &bytes), ERROR_SUCCESS);
  EXPECT_EQ(bytes, dwordBytes(5));
  EXPECT_EQ(registry.calls(SimRegistry::Op::Query), 4) << "the failed calls count too";

  registry.failNext(SimRegistry::Op::Set, ERROR_DISK_FULL, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(setBytes(registry, HKEY_CURRENT_USER, L"v", REG_DWORD, dwordBytes(6)), ERROR_DISK_FULL);
  }
  registry.clear();
  EXPECT_EQ(readBytes(registry, HKEY_CURRENT_USER, L"v", &bytes), ERROR_FILE_NOT_FOUND)
      << "clear removes values and faults";
  EXPECT_EQ(setBytes(registry, HKEY_CURRENT_USER, L"v", REG_DWORD, dwordBytes(6)), ERROR_SUCCESS);
}

}  // namespace
