// The notification service's process-wide state and the operations that its
// three parts share: the set-up calls, the window handler and the polling thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "port/notification_port.h"
#include "utils/notification.h"

namespace utils::radio::notify {

inline constexpr int kTraceLevel = 4;
inline constexpr const wchar_t* kTraceModule = L"utils";

inline constexpr BYTE kRssiSubEvent = 0x8E;
inline constexpr DWORD kNotSupported = 0xFFFFFFFF;
inline constexpr DWORD kFirstPollMs = 1000;
inline constexpr DWORD kLongestPollMs = 64000;

// The window's handler: hands every device change to OnDeviceChange.
class NotifyWndProc : public port::MessageWindowHandler {
 public:
  bool onDeviceChange(DWORD event, const port::DeviceBroadcast* record) override;
  void onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// The signal record in one word, so that its two halves are read together:
// bit 8 the valid flag, bits 0-7 the signal in dBm (signed).
inline constexpr uint32_t kSignalValid = 0x100;
inline uint32_t signalRecord(bool valid, int8_t dbm) { return (valid ? kSignalValid : 0) | static_cast<uint8_t>(dbm); }
inline bool signalValid(uint32_t record) { return (record & kSignalValid) != 0; }
inline int8_t signalDbm(uint32_t record) { return static_cast<int8_t>(record & 0xFF); }

struct ServiceState {
  // The notification lock: the window handler takes it with a try-lock and
  // holds it through every callback; set-up and release hold it throughout.
  std::recursive_mutex lock;

  // Shared by the window thread, the polling thread and the caller.
  std::atomic<DWORD> shutdown{0};
  std::atomic<DWORD> stop{0};
  std::atomic<DWORD> connected{0};
  std::atomic<uint32_t> signal{0};
  std::atomic<ULONGLONG> address{0};
  std::atomic<UTIL_BT_NotifyCallback> callback{nullptr};

  // Guarded by lock. The wake event is also used by the polling thread, which
  // starts after it is made and is joined before it is released.
  HWND window = nullptr;
  HDEVNOTIFY interfaceRegistration = nullptr;
  HDEVNOTIFY devNotify = nullptr;  // the radio handle's custom events
  std::shared_ptr<port::WakeEvent> wake;
  std::unique_ptr<port::WorkerThread> poller;
  NotifyWndProc handler;
};

// The one instance (made on first use, never destroyed: a polling thread left
// running at process end must not find it gone).
ServiceState& serviceState();

// 0 to 5 from the signal record: 0 when not valid, else by the thresholds of
// levelOfSignal.
DWORD GetSignalLevel();
DWORD levelOfSignal(int8_t dbm);

void OnDeviceChange(DWORD event, const port::DeviceBroadcast* record);
BOOL RegisterCustomerEvent(HWND window);

// The signal-strength command for the configured address: 0 when sent,
// kNotSupported when the radio does not know it or there is none, or the
// sender's other failure result.
DWORD SendRssiCmd();
DWORD RssiPollThread();

}  // namespace utils::radio::notify
