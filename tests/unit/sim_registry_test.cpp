// The simulated registry against the registry contract. Its test controls
// (failNext, calls, clear) are exercised by the tests that use them: a failed
// call, then the next one succeeding; sets counted around a refused command.
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

}  // namespace
