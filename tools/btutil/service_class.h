// Bluetooth service classes as users write them: the registry's braced GUID, the
// UUID as Linux tools print it, or the 16-bit and 32-bit short forms that stand
// for a UUID on the Bluetooth base.
#pragma once

#include <string>
#include <string_view>

#include "utils/wintypes.h"

namespace utils::btutil {

// "{0000110B-0000-1000-8000-00805F9B34FB}", "0000110b-0000-1000-8000-00805f9b34fb",
// "0x110b", "110b", "0x0000110b" or "0000110b" (short forms are hexadecimal).
bool parseServiceClass(std::string_view text, GUID* service);

// The common name of a service class on the Bluetooth base ("OBEX Object Push"),
// or the empty text.
std::string_view serviceClassName(const GUID& service);

}  // namespace utils::btutil
