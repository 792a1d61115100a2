// The load step of libutils.so: install the Linux adapters, then read the debug
// settings. Nothing here can make loading fail.
#include "diag/debug_settings.h"
#include "port/linux/linux_platform.h"

namespace {

__attribute__((constructor)) void onLibraryLoad() {
  // An exception here (only a failed allocation can raise one) would end the
  // host before main; the load goes on without it.
  try {
    utils::linuxport::installNativePlatform();
    utils::diag::processAttach();
  } catch (...) {
  }
}

}  // namespace
