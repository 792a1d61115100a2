// The exported vendor HCI command channel: one vendor command request to the bus
// driver, carrying the radio's company identifier read afresh on every call.
#include <algorithm>
#include <cstring>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "radio/bus_device.h"
#include "radio/bus_requests.h"
#include "utils/radio.h"

namespace {

DWORD sendVendorCommand(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern, BYTE patternByte,
                        BYTE* output, DWORD outputSize) {
  using namespace utils::radio;

  BLUETOOTH_RADIO_INFO info{};
  ScopedRadio radio(findFirstRadio(&info));
  if (radio.get() == nullptr) return UTILS_NO_RADIO;

  VendorCommand command;
  command.manufacturer = info.manufacturer;
  command.opcode = opcode;
  command.parameterCount = parameterCount;
  command.parameters = parameters;
  command.usePattern = usePattern != FALSE;
  command.patternByte = patternByte;
  const std::vector<BYTE> request = buildVendorCommand(command, LengthByteRule::kCountPatternNeverZero);

  if (request.empty()) return ERROR_INVALID_PARAMETER;
  BYTE answer[kVendorOutputSize] = {};
  ScopedBus bus;
  DWORD result = openBus(bus.out());
  if (result == 0) {
    result = utils::port::platform().bus->ioControl(bus.get(), kIoctlVendorHciCommand, request.data(),
                                                    static_cast<DWORD>(request.size()), answer, sizeof answer, nullptr);
    if (result == 0 && output != nullptr && outputSize != 0) {
      std::memcpy(output, answer, std::min<DWORD>(outputSize, sizeof answer));
    }
  }
  return result;
}

}  // namespace

UTILS_API DWORD SendVendorHCICmdEx(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern,
                                   BYTE patternByte, BYTE* output, DWORD outputSize) {
  return utils::diag::guardExport("SendVendorHCICmdEx", DWORD{ERROR_NOT_ENOUGH_MEMORY}, [&] {
    return sendVendorCommand(opcode, parameterCount, parameters, usePattern, patternByte, output, outputSize);
  });
}

UTILS_API DWORD SendVendorHCICmd(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern,
                                 BYTE patternByte) {
  return SendVendorHCICmdEx(opcode, parameterCount, parameters, usePattern, patternByte, nullptr, 0);
}
