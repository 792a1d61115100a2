// The dial-up context shared by the exported calls, the window handler, the
// monitor thread and the hang-up threads, and the internal operations they use.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "port/dialup_port.h"
#include "port/notification_port.h"
#include "utils/dialup.h"

namespace utils::dialup {

// Room for the modem name, the terminator included; a longer name is cut.
inline constexpr size_t kModemNameUnits = 260;
// Each modem property is read into 1024 bytes of UTF-16.
inline constexpr DWORD kModemPropertyUnits = 512;
// The phonebook entry fields kept, the terminator excluded.
inline constexpr size_t kEntryDeviceTypeLength = 16;
inline constexpr size_t kEntryDeviceNameLength = 128;
inline constexpr size_t kEntryNameLength = 256;
inline constexpr const wchar_t* kPhoneNumber = L"*99#";
inline constexpr const char* kDialEventName = "RasDialEvent";
inline constexpr const wchar_t* kWindowClass = L"rasConnect";

// The entry values every dial uses: a modem, IP only, PPP, the remote network's
// default gateway and a preview of user name and password, a phone entry.
inline constexpr const wchar_t* kEntryDeviceType = L"modem";
inline constexpr DWORD kEntryNetProtocols = 4;
inline constexpr DWORD kEntryFramingProtocol = 1;
inline constexpr DWORD kEntryOptions = 0x01000010;
inline constexpr DWORD kEntryType = 1;

// How long a hang-up waits for the dialler to let the connection go before it
// reports the connection gone anyway.
inline constexpr uint64_t kHangUpLimitMs = 30000;

// The window's handler: dial progress messages drive the state table.
class DunWindowProc : public port::MessageWindowHandler {
 public:
  bool onDeviceChange(DWORD event, const port::DeviceBroadcast* record) override;
  void onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// One run of the monitor thread. Its stop flag is its own, so that a run that
// is still ending cannot be revived by the start of the next.
struct MonitorRun {
  std::atomic<DWORD> stop{0};
  std::atomic<bool> finished{false};
  std::unique_ptr<port::WorkerThread> thread;  // set by the starter, under threadLock
};

// One hang-up thread: runs on its own, but is joined (finished ones when the
// next starts, the rest by DunUninitialize or unload) so that none outlives the
// library.
struct HangUpRun {
  std::atomic<bool> cancel{false};
  std::atomic<bool> finished{false};
  std::unique_ptr<port::WorkerThread> thread;
};

struct DunContext {
  // Shared by every kind of thread.
  std::atomic<ULONGLONG> peerAddress{0};
  std::atomic<HANDLE> wakeEvent{nullptr};
  std::atomic<DunNotifyCallback> callback{nullptr};
  std::atomic<port::DialConnection> connection{nullptr};
  std::atomic<DWORD> lastState{0};  // the state of the last status read
  std::atomic<UINT> dialEventMessage{0};
  std::atomic<HWND> window{nullptr};

  // The peer and its modem: written by DunInitialize, read by DunConnect.
  std::mutex dataLock;
  BLUETOOTH_DEVICE_INFO peer{};
  std::wstring modemName;

  // Thread bookkeeping; joins happen outside the lock.
  std::mutex threadLock;
  std::shared_ptr<MonitorRun> monitor;
  std::vector<std::shared_ptr<MonitorRun>> endedMonitors;  // left running by themselves; joined later
  std::vector<std::shared_ptr<HangUpRun>> hangUps;

  // Held across a dial and the store of its connection, and passed by the window
  // handler before it acts on a dial event: progress of a dial is never handled
  // before its connection is known.
  std::recursive_mutex dialLock;

  DunWindowProc handler;
};

// The one instance (made on first use, never destroyed).
DunContext& dunContext();

void callBack(BYTE connected);

// Discovery and the phonebook entry.
void DunReadPeerName(ULONGLONG address);
void DunFindModem();
port::DialConnection DunFindConnection();
bool DunWriteEntry();
// The phonebook entry name: the peer's name, at most 256 characters.
std::wstring entryName();

// Monitoring.
void DunStartMonitor();
// wake: the event to wake the monitor with, when it is no longer the context's.
void DunStopMonitor(HANDLE wake = nullptr);
// Takes the wake event out of the context, so that no monitor starts on it any
// more, and stops the monitor that started on it; the caller closes it.
HANDLE takeWakeEvent();
// run: the monitor run whose thread calls it, or null when DunInitialize does.
void DunQueryStatus(MonitorRun* run);

// Hanging up.
void DunHangUp();
void startHangUpThread(port::DialConnection connection);
// Ends every hang-up wait (without callback) and joins the threads, except the
// calling one; also joins the monitors that ended by themselves.
void endBackgroundThreads();

// The whole release of DunUninitialize; also run when the library is unloaded.
void releaseContext();

}  // namespace utils::dialup
