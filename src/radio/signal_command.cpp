// The signal-strength command: a vendor command request with the cached company
// identifier; the radio answers it later with a vendor event.
#include "radio/signal_command.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "radio/bus_device.h"
#include "radio/bus_requests.h"
#include "utils/radio.h"
#include "utils/trace.h"

namespace utils::radio {
namespace {

constexpr int kLevel = 4;
constexpr const wchar_t* kModule = L"utils";

// Process-wide: the cached radio information. The polling thread and the
// notification thread may both write it, so it is guarded.
std::mutex gCacheMutex;
BLUETOOTH_RADIO_INFO gCachedInfo{};

// Refreshes the cache from the first radio. False when there is no radio.
bool refreshCache() {
  BLUETOOTH_RADIO_INFO info{};
  HANDLE radio = FindLocalRadio(&info);
  if (radio == nullptr) return false;
  closeRadioHandle(radio);
  storeCachedRadioInfo(info);
  return true;
}

}  // namespace

void storeCachedRadioInfo(const BLUETOOTH_RADIO_INFO& info) {
  std::lock_guard lock(gCacheMutex);
  gCachedInfo = info;
}

WORD cachedManufacturer() {
  std::lock_guard lock(gCacheMutex);
  return gCachedInfo.manufacturer;
}

void resetCachedRadioInfo() {
  std::lock_guard lock(gCacheMutex);
  gCachedInfo = BLUETOOTH_RADIO_INFO{};
}

DWORD SendBusHciCommand(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern, BYTE patternByte,
                        BYTE* status) {
  WORD manufacturer = cachedManufacturer();
  if (manufacturer == 0) {
    if (!refreshCache()) return UTILS_NO_RADIO;
    manufacturer = cachedManufacturer();
  }

  VendorCommand command;
  command.manufacturer = manufacturer;
  command.opcode = opcode;
  command.parameterCount = parameterCount;
  command.parameters = parameters;
  command.usePattern = usePattern != FALSE;
  command.patternByte = patternByte;
  const std::vector<BYTE> request = buildVendorCommand(command, LengthByteRule::kParametersOnly);
  if (request.empty()) return kBusCommandFailed;

  BYTE answer[kVendorOutputSize] = {};
  ScopedBus bus;
  DWORD error = 0;
  const BOOL opened = EnumBusDevice(bus.out(), &error);
  WRITELOG_W(kLevel, kModule, L"[HIDDEBUG] EnumBusDevice handle = %x\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(bus.get())));
  if (opened) {
    error = port::platform().bus->ioControl(bus.get(), kIoctlVendorHciCommand, request.data(),
                                            static_cast<DWORD>(request.size()), answer, sizeof answer, nullptr);
    closeBusHandle(bus.release());
    if (error == 0) {
      WRITELOG_W(kLevel, kModule, L"send HCI command successfully.\n");
      if (status != nullptr && isCommandComplete(answer, sizeof answer)) *status = answer[5];
      return 0;
    }
  } else if (error == 0) {
    error = ERROR_NOT_READY;  // no lookup step named an error
  }
  if (error == ERROR_IO_PENDING) return kBusCommandPending;
  WRITELOG_W(kLevel, kModule, L"send HCI command failed error = %d\n", error);
  return error == ERROR_INVALID_FUNCTION ? kBusCommandNotSupported : kBusCommandFailed;
}

}  // namespace utils::radio

UTILS_API DWORD SendRssiCmdWithAddr(const BYTE* address) {
  using namespace utils::radio;
  // Without an address there is no device to ask about; nothing is sent.
  if (address == nullptr) return kBusCommandFailed;
  return utils::diag::guardExport("SendRssiCmdWithAddr", kBusCommandFailed, [address] {
    BYTE parameters[kRssiParameterCount] = {kRssiLeadByte};
    std::memcpy(&parameters[1], address, 6);
    return SendBusHciCommand(kRssiOpcode, kRssiParameterCount, parameters, TRUE, kRssiPatternByte, nullptr);
  });
}
