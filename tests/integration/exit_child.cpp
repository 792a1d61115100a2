// A program that starts the notification service, waits until the device's
// signal levels arrive (the event thread delivering, the polling thread asking),
// and then ends without UTIL_BT_Uninitialize:
//   exit_child return    returns from main
//   exit_child exit      calls exit
//   exit_child callback  returns from main while a callback is still running
// Exit code 0, or 3 when no signal level came within 20 s.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "port/linux/linux_platform.h"
#include "utils/notification.h"

namespace {

// Never destroyed: the library's threads may still call back while the
// process runs its exit handlers, which is what this program tests.
std::mutex& gMutex = *new std::mutex;
std::condition_variable& gChanged = *new std::condition_variable;
bool gLevelSeen = false;
bool gBlockNext = false;
bool gBlocked = false;

DWORD onNotification(DWORD connected, DWORD level) {
  std::unique_lock lock(gMutex);
  if (connected == 1 && level <= 5) gLevelSeen = true;
  if (gBlockNext) {
    gBlocked = true;
    gChanged.notify_all();
    lock.unlock();
    std::this_thread::sleep_for(std::chrono::seconds(30));  // still running when main returns
    return 0;
  }
  gChanged.notify_all();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "return";
  utils::linuxport::installNativePlatform();
  UTIL_BT_Initialize(0x112233445501ULL);
  RegisterNotification(onNotification);
  std::unique_lock lock(gMutex);
  if (!gChanged.wait_for(lock, std::chrono::seconds(20), [] { return gLevelSeen; })) return 3;
  if (std::strcmp(mode, "exit") == 0) std::exit(0);
  if (std::strcmp(mode, "callback") == 0) {
    gBlockNext = true;
    if (!gChanged.wait_for(lock, std::chrono::seconds(20), [] { return gBlocked; })) return 3;
  }
  return 0;
}
