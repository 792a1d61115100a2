// The polling thread: while the watched device is connected it asks the radio
// for the signal strength, slowing down while the level stays the same. The
// answers arrive as vendor events on the window thread.
#include <algorithm>

#include "radio/notification_state.h"
#include "radio/signal_command.h"
#include "utils/trace.h"

namespace utils::radio::notify {

DWORD SendRssiCmd() {
  const ULONGLONG address = serviceState().address.load();
  BYTE parameters[kRssiParameterCount] = {kRssiLeadByte};
  for (int i = 0; i < 6; ++i) parameters[1 + i] = static_cast<BYTE>(address >> (8 * (5 - i)));
  BYTE status = 0;
  const DWORD result = SendBusHciCommand(kRssiOpcode, kRssiParameterCount, parameters, TRUE, kRssiPatternByte, &status);
  if (result == 0) return status == 1 ? kNotSupported : 0;
  if (result == kBusCommandNotSupported) return kNotSupported;
  return result;
}

DWORD RssiPollThread() {
  ServiceState& s = serviceState();
  if (s.stop.load() != 0) return 0;
  // The wake event lives until this thread has been joined.
  port::WakeEvent& wake = *s.wake;
  DWORD interval = kFirstPollMs;
  constexpr DWORD kNoLevel = 0xFFFFFFFF;
  DWORD lastLevel = kNoLevel;
  for (;;) {
    if (s.connected.load() != 0) {
      const DWORD sent = SendRssiCmd();
      if (sent == kNotSupported) {
        WRITELOG_W(kTraceLevel, kTraceModule, L"VSC 0x0Fc59 not supported");
        return 0;
      }
      // The record holds the answer to an earlier command: this one's answer
      // arrives later on the window thread. A command that did not go out (the
      // bus driver busy or gone for a while) brings no answer and tells nothing
      // of the level: the interval stays as it is rather than backing off.
      const uint32_t record = s.signal.load();
      if (sent == 0 && signalValid(record)) {
        const DWORD level = levelOfSignal(signalDbm(record));
        if (lastLevel == kNoLevel) lastLevel = level;
        interval = level == lastLevel ? std::min(interval * 4, kLongestPollMs) : kFirstPollMs;
        lastLevel = level;
      }
    } else {
      interval = kFirstPollMs;
      lastLevel = kNoLevel;
    }
    if (wake.wait(interval) == WAIT_OBJECT_0) interval = kFirstPollMs;
    if (s.stop.load() != 0) return 0;
  }
}

}  // namespace utils::radio::notify
