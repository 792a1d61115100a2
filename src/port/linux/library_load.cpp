// The load step of libutils.so: install the Linux adapters, then read the debug
// settings. Nothing here can make loading fail.
#include "diag/debug_settings.h"
#include "dialup/dun_context.h"
#include "port/linux/linux_platform.h"

namespace {

// Made after the native adapters, so released before them: the dial-up
// context's threads are ended while the adapters they use are still there.
struct DialupRelease {
  ~DialupRelease() { utils::dialup::releaseContext(); }
};

__attribute__((constructor)) void onLibraryLoad() {
  // An exception here (only a failed allocation can raise one) would end the
  // host before main; the load goes on without it.
  try {
    utils::linuxport::installNativePlatform();
    utils::diag::processAttach();
  } catch (...) {
  }
  static DialupRelease release;
}

}  // namespace
