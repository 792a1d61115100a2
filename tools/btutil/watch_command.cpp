// btutil watch ADDRESS [--seconds N]: runs the notification service for one
// device and prints each callback until interrupted or N seconds have passed.
#include <charconv>
#include <mutex>

#include "address_input.h"
#include "command_args.h"
#include "interrupt_wait.h"
#include "radio_commands.h"
#include "utils/notification.h"

namespace utils::btutil {
namespace {

// The callback is a plain function: where it prints is process-wide.
std::mutex gOutputMutex;
std::ostream* gOutput = nullptr;

DWORD printNotification(DWORD connected, DWORD level) {
  std::lock_guard lock(gOutputMutex);
  if (gOutput != nullptr) {
    *gOutput << timestamp() << " connected=" << connected << " level=" << level << std::endl;
  }
  return 0;
}

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
