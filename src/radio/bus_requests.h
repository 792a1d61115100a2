// The two I/O control requests of the suite's bus driver and their byte layouts.
#pragma once

#include <vector>

#include "utils/wintypes.h"

namespace utils::radio {

// I/O control codes (device type 0x9C40, METHOD_BUFFERED, FILE_ANY_ACCESS).
inline constexpr DWORD kIoctlVendorHciCommand = 0x9C4024C8;   // function 0x932
inline constexpr DWORD kIoctlPairedDeviceCount = 0x9C402644;  // function 0x991

// The answer buffer of a vendor command and the request and answer sizes of the
// paired-device count.
inline constexpr DWORD kVendorOutputSize = 1024;
inline constexpr DWORD kPairedCountRequestSize = 2092;
inline constexpr DWORD kPairedCountOutputSize = 32;
inline constexpr DWORD kPairedCountTag = 10;

// How the parameter length byte (byte 8) of a vendor command is formed.
enum class LengthByteRule {
  // The parameters plus the three pattern bytes when asked for, modulo 256, and 1
  // when that comes to 0 (the exported command channel).
  kCountPatternNeverZero,
  // The parameter count alone, modulo 256 (the signal-strength command).
  kParametersOnly,
};

struct VendorCommand {
  WORD manufacturer = 0;  // the radio's company identifier
  WORD opcode = 0;
  int parameterCount = 0;            // n; the caller passes 0-255
  const BYTE* parameters = nullptr;  // n bytes, or null
  bool usePattern = false;
  BYTE patternByte = 0;
};

// The vendor command request (BTH_VENDOR_SPECIFIC_COMMAND followed by one
// BTH_VENDOR_PATTERN): n + 9 bytes, plus 3 with a pattern, at least 10, zero
// padded. An n outside 0-255 that would make the length wrap is refused with an
// empty request.
std::vector<BYTE> buildVendorCommand(const VendorCommand& command, LengthByteRule rule);

// The paired-device count request: 2092 bytes, bytes 0-3 = 10, bytes 4-7 = count.
std::vector<BYTE> buildPairedCountRequest(BYTE count);

// Whether an answer holds an HCI Command Complete event (0x0E, length >= 4, one
// command packet); its status is then byte 5.
bool isCommandComplete(const BYTE* answer, size_t size);

}  // namespace utils::radio
