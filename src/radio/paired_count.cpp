// Tells the bus driver how many devices the local radio remembers.
#include "radio/paired_count.h"

#include <vector>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "radio/bus_device.h"
#include "radio/bus_requests.h"
#include "utils/radio.h"
#include "utils/trace.h"

namespace utils::radio {

BYTE CountPairedDevices() {
  ScopedRadio radio(findFirstRadio(nullptr));
  if (radio.get() == nullptr) return 0;
  std::vector<BLUETOOTH_DEVICE_INFO> devices;
  BYTE count = 0;
  if (port::platform().radio->rememberedDevices(radio.get(), &devices) == 0) {
    for (const auto& device : devices) {
      if (device.fRemembered) ++count;  // counted in 8 bits: 256 devices give 0
    }
  }
  return count;
}

}  // namespace utils::radio

UTILS_API void NotifyDriverPairedDeviceNum(void) {
  utils::diag::guardExport("NotifyDriverPairedDeviceNum", [] {
    using namespace utils::radio;
    const BYTE count = CountPairedDevices();
    ScopedBus bus;
    if (openBus(bus.out()) != 0) return;
    const std::vector<BYTE> request = buildPairedCountRequest(count);
    BYTE answer[kPairedCountOutputSize] = {};
    VRLN_BT_ATLTRACE_W(L"Try to send the Paired Device Number event to btfilter, the number is %d\n", count);
    const DWORD error =
        utils::port::platform().bus->ioControl(bus.get(), kIoctlPairedDeviceCount, request.data(),
                                               static_cast<DWORD>(request.size()), answer, sizeof answer, nullptr);
    if (error != 0) VRLN_BT_ATLTRACE_W(L"Fail to fire paired device number to driver, error code is 0x%x!\n", error);
  });
}
