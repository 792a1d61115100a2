// Readiness checks of the Bluetooth stack and the radio driver.
#pragma once

#include "utils/wintypes.h"

namespace utils::radio {

// Opens every present radio interface in turn and keeps the last one's handle
// (earlier ones are closed). INVALID_HANDLE_VALUE when there is none or the last
// one could not be opened.
HANDLE OpenRadioInterface();

// Returns the remove flag to its value at load (tests).
void resetRemoveFlag();

}  // namespace utils::radio
