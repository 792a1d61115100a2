// The number of devices the local radio remembers.
#pragma once

#include "utils/wintypes.h"

namespace utils::radio {

// The count of the first radio's remembered devices, modulo 256; 0 without a radio.
BYTE CountPairedDevices();

}  // namespace utils::radio
