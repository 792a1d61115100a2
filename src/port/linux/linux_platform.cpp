#include "port/linux/linux_platform.h"

#include <cstdlib>
#include <memory>

#include "port/linux/bluez_radio.h"
#include "port/linux/bus_client.h"
#include "port/linux/clock.h"
#include "port/linux/debug_output.h"
#include "port/linux/linux_credentials.h"
#include "port/linux/linux_modules.h"
#include "port/linux/linux_shell.h"
#include "port/linux/nm_dialup.h"
#include "port/linux/notification_window.h"
#include "port/linux/registry_store.h"
#include "port/linux/rfcomm_probe.h"
#include "port/linux/xml_dom.h"
#include "port/platform.h"

namespace utils::linuxport {
namespace {

// Process-wide: the native adapters, made on first use and never destroyed. A
// process may end without UTIL_BT_Uninitialize while the notification service's
// event and polling threads still run; they go on using these adapters until the
// process is gone, and nothing at exit waits for them (a callback still running
// must not hold the exit). The debug output is not chosen by the environment of
// a privileged (set-user-ID) process.
struct NativeAdapters {
  NativeAdapters() : registry(RegistryStore::fromEnvironment()), debugOutput(::secure_getenv("UTILS_DEBUG_OUTPUT")) {}
  std::unique_ptr<RegistryStore> registry;
  LinuxDebugOutput debugOutput;
  LinuxClock clock;
  LinuxBus bus;
  BluezRadio radio{readControllerVersion};
  LinuxRfcomm rfcomm{[this](uint64_t* address, bool* powered) { return radio.firstAdapterState(address, powered); }};
  LibxmlDom xmlDom;
  LinuxShell shell;
  LinuxModules modules;
  LinuxCredentials credentials;
  LinuxNotification notification{[this](HANDLE handle) { return radio.adapterPathOf(handle); }};
  LinuxDialup dialup{notification};
};

}  // namespace

void installNativePlatform() {
  static NativeAdapters& adapters = *new NativeAdapters;
  port::Platform record;
  record.registry = adapters.registry.get();
  record.debugOutput = &adapters.debugOutput;
  record.clock = &adapters.clock;
  record.bus = &adapters.bus;
  record.radio = &adapters.radio;
  record.rfcomm = &adapters.rfcomm;
  record.xmlDom = &adapters.xmlDom;
  record.notification = &adapters.notification;
  record.shell = &adapters.shell;
  record.module = &adapters.modules;
  record.dialup = &adapters.dialup;
  record.credentials = &adapters.credentials;
  port::installPlatform(record);
}

}  // namespace utils::linuxport
