// The native Windows platform: the Win32 adapters of every port.
#pragma once

namespace utils::win32port {

// Installs the Win32 adapters as the platform of the library logic. They live for
// the whole process; calling again installs the same adapters.
void installNativePlatform();

}  // namespace utils::win32port
