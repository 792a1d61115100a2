#include "port/linux/linux_platform.h"

#include <cstdlib>
#include <memory>

#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/registry_store.h"
#include "port/platform.h"

namespace utils::linuxport {
namespace {

// Process-wide: the native adapters, made on first use and released with the
// library's other static objects.
struct NativeAdapters {
  NativeAdapters()
      : registry(RegistryStore::fromEnvironment()), debugOutput(std::getenv("UTILS_DEBUG_OUTPUT")) {}
  std::unique_ptr<RegistryStore> registry;
  LinuxDebugOutput debugOutput;
  LinuxClock clock;
};

}  // namespace

void installNativePlatform() {
  static NativeAdapters adapters;
  port::Platform record;
  record.registry = adapters.registry.get();
  record.debugOutput = &adapters.debugOutput;
  record.clock = &adapters.clock;
  port::installPlatform(record);
}

}  // namespace utils::linuxport
