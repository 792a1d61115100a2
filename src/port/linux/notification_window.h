// The notification port on Linux. A window is a library-owned event thread
// that stands in for the window thread: it watches the Bluetooth daemon
// (adapters added and removed, devices' ACL connections) on a D-Bus connection
// of its own and the radio's vendor events pushed by vrlbusd, and hands each to
// its handler as the device-change record a Windows window receives, on that
// thread, in order. Sources that are missing (no daemon yet, vrlbusd gone) are
// tried again once a second while a registration needs them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "port/notification_port.h"

namespace utils::linuxport {

class LinuxNotification : public port::NotificationPort {
 public:
  // The BlueZ adapter path behind an open radio handle ("" when unknown).
  using AdapterPathOf = std::function<std::string(HANDLE radio)>;

  explicit LinuxNotification(AdapterPathOf adapterPathOf);
  ~LinuxNotification() override;
  LinuxNotification(const LinuxNotification&) = delete;
  LinuxNotification& operator=(const LinuxNotification&) = delete;

  DWORD createWindow(const wchar_t* className, port::MessageWindowHandler* handler, HWND* window) override;
  DWORD destroyWindow(HWND window) override;
  UINT registerMessage(const char* name) override;
  DWORD registerInterfaceNotification(HWND window, const GUID& interfaceClass, HDEVNOTIFY* registration) override;
  DWORD registerHandleNotification(HWND window, HANDLE radio, HDEVNOTIFY* registration) override;
  DWORD unregisterNotification(HDEVNOTIFY registration) override;
  DWORD createWakeEvent(std::unique_ptr<port::WakeEvent>* event) override;
  DWORD startThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread) override;

  // Posts a registered message (dial progress) to a window: its handler gets it
  // on the window's thread after what is queued there already. Returns 0, or
  // ERROR_INVALID_WINDOW_HANDLE for an unknown window.
  DWORD postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  class Window;

 private:
  struct Registration;
  DWORD addRegistration(HWND window, const Registration& registration, HDEVNOTIFY* handle);

  AdapterPathOf adapterPathOf_;
  std::mutex mutex_;
  std::map<HWND, std::shared_ptr<Window>> windows_;
  std::map<HDEVNOTIFY, HWND> owners_;
  std::map<std::string, UINT> messages_;
};

}  // namespace utils::linuxport
