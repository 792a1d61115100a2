// The load step of libutils.so: install the Linux adapters, then read the debug
// settings. Nothing here can make loading fail.
#include "diag/debug_settings.h"
#include "port/linux/linux_platform.h"

namespace {

__attribute__((constructor)) void onLibraryLoad() {
  utils::linuxport::installNativePlatform();
  utils::diag::processAttach();
}

}  // namespace
