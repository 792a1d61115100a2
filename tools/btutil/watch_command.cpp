// btutil watch ADDRESS [--seconds N]: runs the notification service for one
// device and prints each callback until interrupted or N seconds have passed.
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <mutex>

#include "address_input.h"
#include "command_args.h"
#include "radio_commands.h"
#include "utils/notification.h"

namespace utils::btutil {
namespace {

// The callback is a plain function: where it prints is process-wide.
std::mutex gOutputMutex;
std::ostream* gOutput = nullptr;

std::string timestamp() {
  const auto now = std::chrono::system_clock::now();
  const time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  tm local{};
  localtime_r(&seconds, &local);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
  return text;
}

DWORD printNotification(DWORD connected, DWORD level) {
  std::lock_guard lock(gOutputMutex);
  if (gOutput != nullptr) {
    *gOutput << timestamp() << " connected=" << connected << " level=" << level << std::endl;
  }
  return 0;
}

// Blocks SIGINT and SIGTERM in this thread (and so in the threads the library
// starts from it) and waits for one, or for seconds (negative: no limit).
class InterruptWait {
 public:
  InterruptWait() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  }
  ~InterruptWait() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  InterruptWait(const InterruptWait&) = delete;
  InterruptWait& operator=(const InterruptWait&) = delete;

  void wait(long long seconds) {
    if (seconds < 0) {
      int received = 0;
      sigwait(&set_, &received);
      return;
    }
    timespec timeout{static_cast<time_t>(seconds), 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (sigtimedwait(&set_, nullptr, &timeout) < 0 && errno == EINTR) {
      const auto left = deadline - std::chrono::steady_clock::now();
      if (left <= std::chrono::steady_clock::duration::zero()) return;
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout = timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }
  }

 private:
  sigset_t set_;
  sigset_t previous_;
};

}  // namespace

int runWatch(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"seconds", true}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 1, "watch", console, &parsed); code >= 0) return code;
  AddressInput address;
  std::string error;
  if (!parseAddress(parsed.positional[0], &address, &error)) return usageError(console, error, "watch");
  long long seconds = -1;
  if (parsed.has("seconds")) {
    const std::string& text = parsed.value("seconds");
    const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (status != std::errc() || end != text.data() + text.size() || seconds < 0 || seconds > 31622400) {
      return usageError(console, "--seconds takes a whole number of seconds from 0 to 31622400.", "watch");
    }
  }

  InterruptWait interrupt;
  {
    std::lock_guard lock(gOutputMutex);
    gOutput = &console.out;
  }
  UTIL_BT_Initialize(address.bt);
  RegisterNotification(printNotification);
  {
    std::lock_guard lock(gOutputMutex);
    console.out << timestamp() << " watching " << parsed.positional[0]
                << (seconds < 0 ? " until interrupted" : " for " + std::to_string(seconds) + " s") << std::endl;
  }
  interrupt.wait(seconds);
  RegisterNotification(nullptr);
  UTIL_BT_Uninitialize();
  std::lock_guard lock(gOutputMutex);
  gOutput = nullptr;
  console.out << timestamp() << " stopped" << std::endl;
  return kExitOk;
}

}  // namespace utils::btutil
