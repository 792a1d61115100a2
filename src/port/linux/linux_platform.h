// Installs the Linux adapters as the process's platform.
#pragma once

namespace utils::linuxport {

// Creates the native adapters (once per process; they live until its end) and
// installs them. Safe to call more than once.
void installNativePlatform();

}  // namespace utils::linuxport
