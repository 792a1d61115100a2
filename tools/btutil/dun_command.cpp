// btutil dun ADDRESS connect|disconnect|status|watch: dial-up networking through
// the paired phone at ADDRESS, each callback printed with its time.
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "address_input.h"
#include "command_args.h"
#include "dialup/dun_context.h"
#include "interrupt_wait.h"
#include "radio_commands.h"
#include "utils/dialup.h"

namespace utils::btutil {
namespace {

constexpr long long kDefaultTimeoutSeconds = 60;
constexpr long long kLongestSeconds = 31622400;
// A hang-up reports within the library's limit of 30 seconds.
constexpr long long kHangUpSeconds = 40;

// The callbacks as they arrive, printed and kept for the command to wait on.
// The callback is a plain function, so this record is process-wide; it is never
// destroyed, since a library thread may still report while the process exits.
struct Reports {
  std::mutex mutex;
  std::condition_variable arrived;
  std::ostream* out = nullptr;
  std::deque<int> pending;
};

Reports& reports() {
  static Reports* const shared = new Reports;
  return *shared;
}

void UTILS_DUN_CALLBACK printReport(BYTE connected) {
  Reports& r = reports();
  {
    std::lock_guard lock(r.mutex);
    if (r.out != nullptr) *r.out << timestamp() << " connected=" << int{connected} << std::endl;
    r.pending.push_back(connected);
  }
  r.arrived.notify_all();
}

// The dial-up context for the phone, with the printing callback, released (and
// printing stopped) when the command ends. A connection outlives it.
class Session {
 public:
  Session(BtAddr address, std::ostream& out) {
    Reports& r = reports();
    {
      std::lock_guard lock(r.mutex);
      r.out = &out;
      r.pending.clear();
    }
    DunInitialize(address);
    DunRegisterNotification(printReport);
  }
  ~Session() {
    DunUninitialize();
    std::lock_guard lock(reports().mutex);
    reports().out = nullptr;
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The next report, waiting up to seconds; none when the time ran out.
  std::optional<int> next(long long seconds) {
    Reports& r = reports();
    std::unique_lock lock(r.mutex);
    if (!r.arrived.wait_for(lock, std::chrono::seconds(seconds), [&r] { return !r.pending.empty(); })) {
      return std::nullopt;
    }
    const int value = r.pending.front();
    r.pending.pop_front();
    return value;
  }
  // Waits up to seconds for a report of value, passing over others.
  bool waitFor(int value, long long seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - std::chrono::steady_clock::now()).count();
      const std::optional<int> report = next(left > 0 ? left : 0);
      if (!report.has_value()) return false;
      if (*report == value) return true;
    }
  }
  void say(const std::string& text) {
    std::lock_guard lock(reports().mutex);
    *reports().out << timestamp() << ' ' << text << std::endl;
  }
};

bool hasConnection() { return dialup::dunContext().connection.load() != nullptr; }
bool isUp() { return hasConnection() && dialup::dunContext().lastState.load() == port::kRasConnected; }

int connect(Session& session, long long timeout, Console& console) {
  if (isUp()) {
    session.say("already up");
    return kExitOk;
  }
  if (!DunConnect()) {
    // A dial that could not start has reported 0; one that could not be
    // prepared has reported nothing.
    if (session.next(0).has_value()) return kExitNo;
    return failure(console,
                   "The dial could not be prepared: no paired phone at that address offers dial-up networking, or "
                   "NetworkManager is not running (\"btutil --trace 0xFF dun ...\" shows why).");
  }
  const std::optional<int> first = session.next(timeout);
  if (first == 1) {
    session.say("up");
    return kExitOk;
  }
  if (!first.has_value()) {
    session.say("no report within " + std::to_string(timeout) + " s: hanging up");
    DunDisConnect();
    session.waitFor(0, kHangUpSeconds);
  }
  session.say("not up");
  return kExitNo;
}

int disconnect(Session& session, long long timeout, Console& console) {
  if (!hasConnection()) {
    session.say("no connection on the phone's modem");
    return kExitNo;
  }
  DunDisConnect();
  if (!session.waitFor(0, timeout)) {
    return failure(console, "The connection was not released within " + std::to_string(timeout) + " s.");
  }
  session.say("down");
  return kExitOk;
}

std::string stateText() {
  if (!hasConnection()) return "no connection on the phone's modem";
  return isUp() ? "up" : "connecting or going down";
}

bool parseSeconds(const ParsedArgs& parsed, std::string_view name, long long* seconds) {
  if (!parsed.has(name)) return true;
  const std::string& text = parsed.value(name);
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), *seconds);
  return status == std::errc() && end == text.data() + text.size() && *seconds >= 0 && *seconds <= kLongestSeconds;
}

}  // namespace

int runDun(std::span<const std::string> args, Console& console) {
  static constexpr OptionSpec kSpecs[] = {{"timeout", true}, {"seconds", true}};
  ParsedArgs parsed;
  if (int code = prepareArgs(args, kSpecs, 2, "dun", console, &parsed); code >= 0) return code;
  AddressInput address;
  std::string error;
  if (!parseAddress(parsed.positional[0], &address, &error)) return usageError(console, error, "dun");
  const std::string operation = lowerAscii(parsed.positional[1]);
  if (operation != "connect" && operation != "disconnect" && operation != "status" && operation != "watch") {
    return usageError(
        console, "Unknown dun operation \"" + parsed.positional[1] + "\": use connect, disconnect, status or watch.",
        "dun");
  }
  long long timeout = kDefaultTimeoutSeconds;
  long long seconds = -1;
  if (!parseSeconds(parsed, "timeout", &timeout) || !parseSeconds(parsed, "seconds", &seconds)) {
    return usageError(console, "--timeout and --seconds take a whole number of seconds from 0 to 31622400.", "dun");
  }
  if (parsed.has("seconds") && operation != "watch") return usageError(console, "--seconds is for watch.", "dun");
  if (parsed.has("timeout") && operation != "connect" && operation != "disconnect") {
    return usageError(console, "--timeout is for connect and disconnect.", "dun");
  }

  // Before the library starts its threads, so that they leave the signals to the wait.
  std::optional<InterruptWait> interrupt;
  if (operation == "watch") interrupt.emplace();
  Session session(address.bt, console.out);
  if (operation == "connect") return connect(session, timeout, console);
  if (operation == "disconnect") return disconnect(session, timeout, console);
  if (operation == "status") {
    session.say(stateText());
    return isUp() ? kExitOk : kExitNo;
  }
  session.say("watching " + parsed.positional[0] + " (" + stateText() + ")" +
              (seconds < 0 ? " until interrupted" : " for " + std::to_string(seconds) + " s"));
  interrupt->wait(seconds);
  session.say("stopped");
  return kExitOk;
}

}  // namespace utils::btutil
