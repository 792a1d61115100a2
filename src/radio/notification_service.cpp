// Starting and stopping the notification service: the window, its two device
// registrations, the wake event, the initial connection state and the polling
// thread.
#include <cstdint>

#include "diag/export_guard.h"
#include "port/platform.h"
#include "radio/bus_device.h"
#include "radio/notification_state.h"
#include "radio/signal_command.h"
#include "utils/trace.h"

namespace utils::radio::notify {
namespace {

constexpr const wchar_t* kWindowClass = L"rissNotify";

unsigned traceValue(const void* handle) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle)); }

port::NotificationPort* notificationPort() { return port::platform().notification; }

HWND CreateNotifyWindow(ServiceState& s) {
  HWND window = nullptr;
  if (notificationPort()->createWindow(kWindowClass, &s.handler, &window) != 0) return nullptr;
  return window;
}

void RegisterInterfaceNotification(ServiceState& s) {
  HDEVNOTIFY registration = nullptr;
  if (notificationPort()->registerInterfaceNotification(s.window, port::kGuidBthportDeviceInterface, &registration) ==
      0) {
    s.interfaceRegistration = registration;
  }
}

// Reads whether the watched device is connected now; sets the flag when it is.
void readInitialConnection(ServiceState& s) {
  port::RadioPort* radioPort = port::platform().radio;
  if (radioPort == nullptr) return;
  BLUETOOTH_RADIO_INFO radioInfo{};
  DWORD infoError = 0;
  const ScopedRadio radio(findFirstRadio(&radioInfo, &infoError));
  if (radio.get() == nullptr || infoError != 0) return;
  BLUETOOTH_DEVICE_INFO device{};
  device.dwSize = sizeof device;
  device.Address.ullLong = s.address.load();
  if (radioPort->getDeviceInfo(radio.get(), &device) == 0 && device.fConnected != FALSE) s.connected = 1;
}

// Stops the polling thread and releases the registrations, the window and the
// wake event. Called with the lock held; safe on a service that is not running.
void releaseService(ServiceState& s) {
  s.shutdown = 1;
  s.stop = 1;
  if (s.wake) s.wake->signal();
  if (s.poller) {
    s.poller->join();
    s.poller.reset();
  }
  port::NotificationPort* port = notificationPort();
  if (s.interfaceRegistration != nullptr) {
    port->unregisterNotification(s.interfaceRegistration);
    s.interfaceRegistration = nullptr;
  }
  if (s.devNotify != nullptr) {
    port->unregisterNotification(s.devNotify);
    s.devNotify = nullptr;
  }
  if (s.window != nullptr) {
    port->destroyWindow(s.window);
    s.window = nullptr;
  }
  s.wake.reset();
}

}  // namespace

ServiceState& serviceState() {
  static ServiceState* const state = new ServiceState;
  return *state;
}

DWORD levelOfSignal(int8_t dbm) {
  if (dbm >= -60) return 5;
  if (dbm >= -70) return 4;
  if (dbm >= -80) return 3;
  if (dbm >= -90) return 2;
  if (dbm >= -100) return 1;
  return 0;
}

DWORD GetSignalLevel() {
  const uint32_t record = serviceState().signal.load();
  return signalValid(record) ? levelOfSignal(signalDbm(record)) : 0;
}

BOOL RegisterCustomerEvent(HWND window) {
  ServiceState& s = serviceState();
  BLUETOOTH_RADIO_INFO info{};
  const ScopedRadio radio(FindLocalRadio(&info));
  WRITELOG_W(kTraceLevel, kTraceModule, L"RegisterCustomerEvent _hRadio = %x.\n", traceValue(radio.get()));
  if (radio.get() == nullptr) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"RegisterCustomerEvent can not find a bluetooth radio.\n");
    return FALSE;
  }
  storeCachedRadioInfo(info);
  // A registration for an earlier radio handle is ended first, so that no event
  // is delivered twice.
  if (s.devNotify != nullptr) {
    notificationPort()->unregisterNotification(s.devNotify);
    s.devNotify = nullptr;
  }
  HDEVNOTIFY registration = nullptr;
  const DWORD error = notificationPort()->registerHandleNotification(window, radio.get(), &registration);
  s.devNotify = error == 0 ? registration : nullptr;
  if (s.devNotify != nullptr) {
    WRITELOG_W(kTraceLevel, kTraceModule, L"register device custom notification. m_hDevNotify = 0x%x\n",
               traceValue(s.devNotify));
  } else {
    WRITELOG_W(kTraceLevel, kTraceModule, L"register device custom notification. error code = 0x%d\n", error);
  }
  return s.devNotify != nullptr ? TRUE : FALSE;
}

namespace {

// Sets the service up; *held receives the window whose messages wait until the
// caller has let the lock go.
void startService(ServiceState& s, BtAddr address, HWND* held) {
  // A service still running from an earlier call is stopped first, and what an
  // earlier one left behind is released.
  releaseService(s);

  s.shutdown = 0;
  s.stop = 0;
  s.connected = 0;
  s.signal = 0;
  s.callback = nullptr;
  s.address = address;

  s.window = CreateNotifyWindow(s);
  if (s.window == nullptr) return;
  // The handler would find the lock taken: what arrives while the service is
  // set up waits, in order, until the lock is free.
  if (notificationPort()->holdMessages(s.window) == 0) *held = s.window;
  RegisterInterfaceNotification(s);
  RegisterCustomerEvent(s.window);

  std::unique_ptr<utils::port::WakeEvent> wake;
  if (notificationPort()->createWakeEvent(&wake) == 0) s.wake = std::move(wake);
  readInitialConnection(s);
  // Without a wake event the polling thread could not wait: it is not started.
  if (s.wake) {
    notificationPort()->startThread([] { diag::guardExport("RssiPollThread", [] { RssiPollThread(); }); }, &s.poller);
  }
}

}  // namespace
}  // namespace utils::radio::notify

using namespace utils::radio::notify;

UTILS_API void UTIL_BT_Initialize(BtAddr address) {
  ServiceState& s = serviceState();
  if (notificationPort() == nullptr) return;
  HWND held = nullptr;
  utils::diag::guardExport("UTIL_BT_Initialize", [&] {
    std::lock_guard guard(s.lock);
    try {
      startService(s, address, &held);
    } catch (...) {
      // A service half started is no service: what was made is released, the
      // window with its held messages included.
      releaseService(s);
      held = nullptr;
      throw;
    }
  });
  if (held != nullptr) notificationPort()->releaseMessages(held);
}

UTILS_API DWORD RegisterNotification(UTIL_BT_NotifyCallback callback) {
  serviceState().callback = callback;
  return 0;
}

UTILS_API void UTIL_BT_Uninitialize(void) {
  ServiceState& s = serviceState();
  if (notificationPort() == nullptr) return;
  utils::diag::guardExport("UTIL_BT_Uninitialize", [&] {
    std::lock_guard guard(s.lock);
    releaseService(s);
  });
}
