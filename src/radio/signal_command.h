// The signal-strength command and the cached radio information whose company
// identifier every such request carries.
#pragma once

#include "utils/wintypes.h"

namespace utils::radio {

inline constexpr WORD kRssiOpcode = 0xFC59;
inline constexpr int kRssiParameterCount = 7;
inline constexpr BYTE kRssiLeadByte = 0x01;
inline constexpr BYTE kRssiPatternByte = 0xAA;

// Results of SendBusHciCommand besides 0 and UTILS_NO_RADIO.
inline constexpr DWORD kBusCommandNotSupported = 1;
inline constexpr DWORD kBusCommandPending = 997;
inline constexpr DWORD kBusCommandFailed = 0xFFFFFFFE;

// Sends one vendor command with the cached company identifier (refreshed from
// the first radio while it is 0). On success, when status is given and the
// answer is a Command Complete event, *status receives the command's status.
// Returns 0, kBusCommandNotSupported, kBusCommandPending, kBusCommandFailed or
// UTILS_NO_RADIO.
DWORD SendBusHciCommand(WORD opcode, int parameterCount, const BYTE* parameters, BOOL usePattern, BYTE patternByte,
                        BYTE* status);

// The cached radio information (process-wide, all zero at load). The
// notification service stores the record that FindLocalRadio gives it each time
// it registers for the radio's events.
void storeCachedRadioInfo(const BLUETOOTH_RADIO_INFO& info);
WORD cachedManufacturer();
void resetCachedRadioInfo();

}  // namespace utils::radio
