// The exported dial-up calls: setting the context up, the callback, dialling,
// hanging up, and releasing the context.
#include "diag/export_guard.h"
#include "dialup/dun_context.h"
#include "port/platform.h"

namespace utils::dialup {
namespace {

port::DialupPort* dialupPort() { return port::platform().dialup; }
port::NotificationPort* notificationPort() { return port::platform().notification; }
bool portsInstalled() { return dialupPort() != nullptr && notificationPort() != nullptr; }

// Replaces the context's window by a new one; when none can be made the
// earlier one (if any) stays.
void createWindow(DunContext& ctx) {
  HWND created = nullptr;
  if (notificationPort()->createWindow(kWindowClass, &ctx.handler, &created) != 0 || created == nullptr) return;
  if (const HWND earlier = ctx.window.exchange(created)) notificationPort()->destroyWindow(earlier);
}

void replaceWakeEvent(DunContext& ctx) {
  if (const HANDLE earlier = takeWakeEvent()) dialupPort()->closeEvent(earlier);
  HANDLE event = nullptr;
  if (dialupPort()->createEvent(&event) == 0) ctx.wakeEvent = event;
}

}  // namespace

DunContext& dunContext() {
  static DunContext* const context = new DunContext;
  return *context;
}

void callBack(BYTE connected) {
  if (const DunNotifyCallback callback = dunContext().callback.load()) callback(connected);
}

void releaseContext() {
  if (!portsInstalled()) return;
  DunContext& ctx = dunContext();
  // A dial event being handled may be starting a monitor right now: taking the
  // event out first means it either started (and is stopped here) or will not.
  const HANDLE event = takeWakeEvent();
  endBackgroundThreads();
  if (event != nullptr) dialupPort()->closeEvent(event);
  if (const HWND window = ctx.window.exchange(nullptr)) notificationPort()->destroyWindow(window);
}

}  // namespace utils::dialup

using namespace utils::dialup;
using utils::diag::guardExport;

namespace {

void initialize(BtAddr address) {
  DunContext& ctx = dunContext();
  ctx.callback = nullptr;
  if (!portsInstalled()) return;
  // A monitor of an earlier set-up must not go on waiting on the event that is
  // replaced below.
  DunStopMonitor();
  createWindow(ctx);
  if (ctx.window.load() == nullptr) return;

  ctx.peerAddress = address;
  ctx.connection = nullptr;
  replaceWakeEvent(ctx);
  ctx.lastState = 0;
  {
    std::lock_guard lock(ctx.dataLock);
    ctx.modemName.clear();
  }
  DunFindModem();
  if (DunFindConnection() != nullptr) {
    DunStartMonitor();
    DunQueryStatus(nullptr);
  }
  if (ctx.dialEventMessage.load() == 0) ctx.dialEventMessage = notificationPort()->registerMessage(kDialEventName);
  DunReadPeerName(address);
}

BOOL connect() {
  if (!portsInstalled()) return FALSE;
  DunContext& ctx = dunContext();
  if (!DunWriteEntry()) return FALSE;
  const HWND window = ctx.window.load();
  DWORD error = ERROR_INVALID_HANDLE;
  utils::port::DialConnection connection = nullptr;
  {
    std::lock_guard lock(ctx.dialLock);
    // Without a window the dial's progress would reach no one: it is not started.
    if (window != nullptr) {
      const std::wstring name = entryName();
      error = dialupPort()->dial(name.c_str(), kPhoneNumber, window, &connection);
    }
    if (error == 0) ctx.connection = connection;
  }
  if (error == 0) return TRUE;
  // A dial that failed to start may still hold a connection: it is released.
  if (connection != nullptr) dialupPort()->hangUp(connection);
  callBack(0);
  return FALSE;
}

}  // namespace

UTILS_API void DunInitialize(BtAddr address) {
  guardExport("DunInitialize", [address] { initialize(address); });
}

UTILS_API DWORD DunRegisterNotification(DunNotifyCallback callback) {
  if (callback == nullptr) return ERROR_INVALID_BLOCK;
  dunContext().callback = callback;
  return 0;
}

UTILS_API BOOL DunConnect(void) { return guardExport("DunConnect", BOOL{FALSE}, connect); }

UTILS_API void DunDisConnect(void) {
  if (!portsInstalled()) return;
  guardExport("DunDisConnect", [] {
    DunStopMonitor();
    const utils::port::DialConnection connection = dunContext().connection.exchange(nullptr);
    try {
      startHangUpThread(connection);
    } catch (...) {
      // No thread took the connection: it is hung up here, as without a thread.
      if (connection != nullptr) dialupPort()->hangUp(connection);
      throw;
    }
  });
}

UTILS_API void DunUninitialize(void) { guardExport("DunUninitialize", releaseContext); }
