// Device interface classes that a Wine prefix (and any Windows machine with a
// keyboard or mouse) has present, for looking up real interfaces where the
// Bluetooth and bus driver classes have none.
#pragma once

#include <windows.h>

namespace utils::testing {

// GUID_DEVINTERFACE_HID, {4D1E55B2-F16F-11CF-88CB-001111000030}.
inline constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace utils::testing
