// The notification port on Windows: hidden message-only windows whose
// WM_DEVICECHANGE messages are decoded into device-change records for their
// handlers, device notifications through RegisterDeviceNotificationW, and
// events and threads of the kernel.
#pragma once

#include <map>
#include <mutex>
#include <set>

#include "port/notification_port.h"

namespace utils::win32port {

class Win32Notification : public port::NotificationPort {
 public:
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

 private:
  DWORD track(HWND window, HDEVNOTIFY registration);
  std::mutex mutex_;
  std::map<HDEVNOTIFY, HWND> owners_;
};

// The record of a WM_DEVICECHANGE's lParam (null or malformed: false).
bool decodeDeviceBroadcast(DWORD event, const void* header, port::DeviceBroadcast* record);

}  // namespace utils::win32port
