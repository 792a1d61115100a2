// The bus driver's first interface and the first local radio. Each handle
// obtained here belongs to whoever asked for it; lookups release everything
// else before they return.
#include "radio/bus_device.h"

#include <cstdint>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "utils/radio.h"
#include "utils/trace.h"

namespace utils::radio {
namespace {

constexpr int kLevel = 4;
constexpr const wchar_t* kModule = L"utils";

// Finding and opening the first bus interface, with one rule for the handle:
// the open handle on success; null when no interface was found (the lookup
// names the step that failed); INVALID_HANDLE_VALUE when one was found but
// would not open.
struct BusOpening {
  port::BusInterface found;
  DWORD error = ERROR_SUCCESS;
  HANDLE handle = nullptr;
};

BusOpening openFirstInterface() {
  BusOpening result;
  port::BusPort* bus = port::platform().bus;
  if (bus == nullptr) {
    result.found.failedStep = port::BusLookupStep::kEnumerate;
    result.error = ERROR_NO_MORE_ITEMS;
  } else if (result.error = bus->findFirstInterface(&result.found); result.error == 0) {
    result.error = bus->open(result.found.path.c_str(), &result.handle);
  }
  if (result.error != 0) {
    result.handle = result.found.failedStep == port::BusLookupStep::kNone ? INVALID_HANDLE_VALUE : nullptr;
  }
  return result;
}

// Ends a radio search when it goes out of scope; the radio handle it found is
// released with it unless the caller keeps it.
class RadioSearch {
 public:
  RadioSearch(port::RadioPort& radioPort, HANDLE search, HANDLE radio)
      : port_(radioPort), search_(search), radio_(radio) {}
  ~RadioSearch() {
    port_.findRadioClose(search_);
    if (radio_ != nullptr) port_.close(radio_);
  }
  RadioSearch(const RadioSearch&) = delete;
  RadioSearch& operator=(const RadioSearch&) = delete;
  HANDLE keepRadio() { return std::exchange(radio_, nullptr); }

 private:
  port::RadioPort& port_;
  HANDLE search_;
  HANDLE radio_;
};

// A handle as the 32-bit number that the trace lines print.
unsigned handleText(HANDLE handle) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)); }

void traceLookupFailure(const port::BusInterface& found, DWORD error) {
  switch (found.failedStep) {
    case port::BusLookupStep::kDeviceList:
      WRITELOG_W(kLevel, kModule, L"SetupDiGetClassDevs failed: %x\n", error);
      break;
    case port::BusLookupStep::kEnumerate:
      if (error == ERROR_NO_MORE_ITEMS) {
        WRITELOG_W(kLevel, kModule, L"Error:Interface GUID_DEVINTERFACE_BUSENUM_VRLBUS is not registered\n");
      }
      break;
    case port::BusLookupStep::kDetailSize:
      WRITELOG_W(kLevel, kModule, L"Error in SetupDiGetDeviceInterfaceDetail%d\n", error);
      break;
    case port::BusLookupStep::kDetailAlloc:
      WRITELOG_W(kLevel, kModule, L"Couldn't allocate %d bytes for device interface details.\n", found.detailBytes);
      break;
    case port::BusLookupStep::kDetail:
      WRITELOG_W(kLevel, kModule, L"Error in SetupDiGetDeviceInterfaceDetail\n");
      break;
    case port::BusLookupStep::kNone: break;
  }
}

}  // namespace

DWORD openBus(HANDLE* handle) {
  const BusOpening opening = openFirstInterface();
  *handle = opening.handle;
  return opening.error;
}

BOOL EnumBusDevice(HANDLE* handle, DWORD* error) {
  const BusOpening opening = openFirstInterface();
  if (error != nullptr) *error = opening.error;
  // A failed lookup leaves *handle as the caller had it.
  if (opening.found.failedStep != port::BusLookupStep::kNone) {
    traceLookupFailure(opening.found, opening.error);
    return FALSE;
  }
  *handle = opening.handle;
  if (opening.error != 0) {
    WRITELOG_W(kLevel, kModule, L"CreateFile failed: 0x%x", opening.error);
    return FALSE;
  }
  return TRUE;
}

HANDLE findFirstRadio(BLUETOOTH_RADIO_INFO* info, DWORD* infoError) {
  if (infoError != nullptr) *infoError = ERROR_NOT_READY;
  port::RadioPort* radioPort = port::platform().radio;
  if (radioPort == nullptr) return nullptr;
  HANDLE search = nullptr;
  HANDLE radio = nullptr;
  if (radioPort->findFirstRadio(&search, &radio) != 0 || search == nullptr) return nullptr;
  RadioSearch found(*radioPort, search, radio);
  if (info != nullptr) {
    info->dwSize = sizeof(BLUETOOTH_RADIO_INFO);
    const DWORD error = radioPort->getRadioInfo(radio, info);
    if (infoError != nullptr) *infoError = error;
  }
  return found.keepRadio();
}

HANDLE FindLocalRadio(BLUETOOTH_RADIO_INFO* info) {
  port::RadioPort* radioPort = port::platform().radio;
  HANDLE search = nullptr;
  HANDLE radio = nullptr;
  if (radioPort != nullptr && radioPort->findFirstRadio(&search, &radio) != 0) {
    search = nullptr;
    radio = nullptr;
  }
  WRITELOG_W(kLevel, kModule, L"local radio handle = 0x%x radio found = 0x%x\n", handleText(radio), handleText(search));
  if (search == nullptr) return nullptr;
  RadioSearch found(*radioPort, search, radio);
  if (info != nullptr) {
    info->dwSize = sizeof(BLUETOOTH_RADIO_INFO);
    if (radioPort->getRadioInfo(radio, info) == ERROR_SUCCESS) {
      WRITELOG_W(kLevel, kModule, L"Local Bluetooth radio info version = %x, Manufacturer = %x\n", info->lmpSubversion,
                 info->manufacturer);
    }
  }
  return found.keepRadio();
}

void closeBusHandle(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && port::platform().bus != nullptr) {
    port::platform().bus->close(handle);
  }
}

void closeRadioHandle(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE && port::platform().radio != nullptr) {
    port::platform().radio->close(handle);
  }
}

}  // namespace utils::radio

UTILS_API HANDLE OpenBusHandle(void) {
  return utils::diag::guardExport("OpenBusHandle", HANDLE{nullptr}, [] {
    HANDLE handle = nullptr;
    return utils::radio::openBus(&handle) == 0 ? handle : nullptr;
  });
}

UTILS_API HANDLE EnumerateFirstBthRadioHandle(BLUETOOTH_RADIO_INFO* info) {
  return utils::diag::guardExport("EnumerateFirstBthRadioHandle", HANDLE{nullptr},
                                  [info] { return utils::radio::findFirstRadio(info); });
}
