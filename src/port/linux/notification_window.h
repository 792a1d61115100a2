// The notification port on Linux. A window is a library-owned event thread
// that stands in for the window thread, and a second thread that reads its
// sources: the Bluetooth daemon (adapters added and removed, devices' ACL
// connections) on a D-Bus connection of its own and the radio's vendor events
// pushed by vrlbusd. Each event is handed to the handler as the device-change
// record a Windows window receives, on the window's thread, in the order the
// events were read from both sources. Sources that are missing (no daemon yet,
// vrlbusd gone) are tried again once a second while a registration needs them.
#pragma once

#include <atomic>
#include <cstdint>
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
  DWORD holdMessages(HWND window) override;
  DWORD releaseMessages(HWND window) override;

  // Posts a registered message (dial progress) to a window: its handler gets it
  // on the window's thread after what is queued there already. Returns 0, or
  // ERROR_INVALID_WINDOW_HANDLE for an unknown window.
  DWORD postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // How many events the windows have read from their sources so far (tests
  // wait on it to know that an event has been taken in).
  uint64_t eventsRead() const { return eventsRead_->load(); }

  class Window;

 private:
  std::shared_ptr<Window> findWindow(HWND window);
  struct Registration;
  DWORD addRegistration(HWND window, const Registration& registration, HDEVNOTIFY* handle);

  AdapterPathOf adapterPathOf_;
  std::mutex mutex_;
  std::map<HWND, std::shared_ptr<Window>> windows_;
  std::map<HDEVNOTIFY, HWND> owners_;
  std::map<std::string, UINT> messages_;
  std::shared_ptr<std::atomic<uint64_t>> eventsRead_ = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace utils::linuxport
