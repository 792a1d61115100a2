#include "port/win32/notification_window.h"

#include <windows.h>
// after windows.h
#include <dbt.h>

#include <cstddef>
#include <cstring>

namespace utils::win32port {
namespace {

// The windows' handlers and the registered messages, shared by the window
// procedure of every window of this process.
struct Windows {
  std::mutex mutex;
  std::map<HWND, port::MessageWindowHandler*> handlers;
  std::set<UINT> messages;
};

Windows& windows() {
  static Windows* const shared = new Windows;  // used until the last window is gone
  return *shared;
}

port::MessageWindowHandler* handlerOf(HWND window) {
  Windows& all = windows();
  std::lock_guard lock(all.mutex);
  auto it = all.handlers.find(window);
  return it == all.handlers.end() ? nullptr : it->second;
}

bool isRegisteredMessage(UINT message) {
  Windows& all = windows();
  std::lock_guard lock(all.mutex);
  return all.messages.count(message) != 0;
}

// The largest record accepted; anything bigger is malformed.
constexpr DWORD kLongestRecord = 64 * 1024;

LRESULT CALLBACK notifyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE) {
    if (port::MessageWindowHandler* handler = handlerOf(window)) {
      const DWORD event = static_cast<DWORD>(wParam & 0xFFFFFFFF);
      port::DeviceBroadcast record;
      const bool decoded = decodeDeviceBroadcast(event, reinterpret_cast<const void*>(lParam), &record);
      if (handler->onDeviceChange(event, decoded ? &record : nullptr)) return 0;
    }
  } else if (message >= 0xC000 && isRegisteredMessage(message)) {
    if (port::MessageWindowHandler* handler = handlerOf(window)) handler->onMessage(message, wParam, lParam);
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class Win32WakeEvent : public port::WakeEvent {
 public:
  explicit Win32WakeEvent(HANDLE event) : event_(event) {}
  ~Win32WakeEvent() override { CloseHandle(event_); }
  Win32WakeEvent(const Win32WakeEvent&) = delete;
  Win32WakeEvent& operator=(const Win32WakeEvent&) = delete;
  void signal() override { SetEvent(event_); }
  DWORD wait(DWORD ms) override {
    return WaitForSingleObject(event_, ms) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
  }

 private:
  HANDLE event_;
};

class Win32Thread : public port::WorkerThread {
 public:
  Win32Thread(HANDLE thread, DWORD id) : thread_(thread), id_(id) {}
  ~Win32Thread() override { CloseHandle(thread_); }
  Win32Thread(const Win32Thread&) = delete;
  Win32Thread& operator=(const Win32Thread&) = delete;
  void join() override {
    if (!isCurrent()) WaitForSingleObject(thread_, INFINITE);
  }
  bool isCurrent() const override { return GetCurrentThreadId() == id_; }

 private:
  HANDLE thread_;
  DWORD id_;
};

// What a thread of the library runs, and the module that holds its code.
struct ThreadStart {
  std::function<void()> entry;
  HMODULE module = nullptr;
};

// The module containing this code, with its reference count raised (null when
// that fails): a thread of the library keeps the library loaded until it ends,
// so that an unload while it runs cannot take its code or data away.
HMODULE holdOwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&holdOwnModule), &module)) {
    return nullptr;
  }
  return module;
}

DWORD WINAPI threadEntry(LPVOID parameter) {
  HMODULE module = nullptr;
  {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    module = start->module;
    start->entry();
  }
  if (module != nullptr) FreeLibraryAndExitThread(module, 0);
  return 0;
}

}  // namespace

bool decodeDeviceBroadcast(DWORD event, const void* header, port::DeviceBroadcast* record) {
  if (header == nullptr) return false;
  const auto* common = static_cast<const DEV_BROADCAST_HDR*>(header);
  const DWORD size = common->dbch_size;
  if (size < sizeof(DEV_BROADCAST_HDR) || size > kLongestRecord) return false;
  record->deviceType = common->dbch_devicetype;
  record->data.clear();
  if (record->deviceType == DBT_DEVTYP_DEVICEINTERFACE) {
    if (size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) return false;
    record->guid = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)->dbcc_classguid;
  } else if (record->deviceType == DBT_DEVTYP_HANDLE) {
    constexpr size_t kDataOffset = offsetof(DEV_BROADCAST_HANDLE, dbch_data);
    if (size < offsetof(DEV_BROADCAST_HANDLE, dbch_nameoffset)) return false;
    const auto* handle = static_cast<const DEV_BROADCAST_HANDLE*>(header);
    record->guid = handle->dbch_eventguid;
    // Only custom events carry data: as many bytes as the record's size says.
    if (event == DBT_CUSTOMEVENT && size > kDataOffset) {
      const BYTE* data = static_cast<const BYTE*>(header) + kDataOffset;
      record->data.assign(data, data + (size - kDataOffset));
    }
  }
  return true;
}

DWORD Win32Notification::createWindow(const wchar_t* className, port::MessageWindowHandler* handler, HWND* window) {
  *window = nullptr;
  if (className == nullptr || handler == nullptr) return ERROR_INVALID_PARAMETER;
  WNDCLASSW windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = notifyWindowProc;
  windowClass.lpszClassName = className;
  if (RegisterClassW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return GetLastError();
  // Message-only: never shown, and needs no display.
  const HWND created = CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_POPUP, -10, -10, 0, 0, HWND_MESSAGE,
                                       nullptr, nullptr, nullptr);
  if (created == nullptr) return GetLastError();
  Windows& all = windows();
  std::lock_guard lock(all.mutex);
  all.handlers[created] = handler;
  *window = created;
  return 0;
}

DWORD Win32Notification::destroyWindow(HWND window) {
  {
    Windows& all = windows();
    std::lock_guard lock(all.mutex);
    if (all.handlers.erase(window) == 0) return ERROR_INVALID_HANDLE;
  }
  {
    std::lock_guard lock(mutex_);
    for (auto it = owners_.begin(); it != owners_.end();) {
      if (it->second == window) {
        UnregisterDeviceNotification(it->first);
        it = owners_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // Only the owning thread may destroy a window; another thread asks it to.
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  return 0;
}

UINT Win32Notification::registerMessage(const char* name) {
  if (name == nullptr) return 0;
  const UINT message = RegisterWindowMessageA(name);
  if (message != 0) {
    Windows& all = windows();
    std::lock_guard lock(all.mutex);
    all.messages.insert(message);
  }
  return message;
}

DWORD Win32Notification::track(HWND window, HDEVNOTIFY registration) {
  std::lock_guard lock(mutex_);
  owners_[registration] = window;
  return 0;
}

DWORD Win32Notification::registerInterfaceNotification(HWND window, const GUID& interfaceClass,
                                                       HDEVNOTIFY* registration) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = interfaceClass;
  *registration = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (*registration == nullptr) return GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
  return track(window, *registration);
}

DWORD Win32Notification::registerHandleNotification(HWND window, HANDLE radio, HDEVNOTIFY* registration) {
  DEV_BROADCAST_HANDLE filter{};
  filter.dbch_size = sizeof filter;
  filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
  filter.dbch_handle = radio;
  filter.dbch_eventguid = port::kGuidBthportDeviceInterface;
  *registration = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (*registration == nullptr) return GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
  return track(window, *registration);
}

DWORD Win32Notification::unregisterNotification(HDEVNOTIFY registration) {
  {
    std::lock_guard lock(mutex_);
    if (owners_.erase(registration) == 0) return ERROR_INVALID_HANDLE;
  }
  return UnregisterDeviceNotification(registration) ? 0 : GetLastError();
}

DWORD Win32Notification::createWakeEvent(std::unique_ptr<port::WakeEvent>* event) {
  const HANDLE created = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (created == nullptr) return GetLastError();
  *event = std::make_unique<Win32WakeEvent>(created);
  return 0;
}

DWORD Win32Notification::startThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread) {
  auto parameter = std::make_unique<ThreadStart>(ThreadStart{std::move(entry), holdOwnModule()});
  DWORD id = 0;
  const HANDLE created = CreateThread(nullptr, 0, threadEntry, parameter.get(), 0, &id);
  if (created == nullptr) {
    const DWORD error = GetLastError();
    if (parameter->module != nullptr) FreeLibrary(parameter->module);
    return error;
  }
  parameter.release();  // the thread owns it now
  *thread = std::make_unique<Win32Thread>(created, id);
  return 0;
}

// The window belongs to the thread that made it, and its messages are handled
// only while that thread takes them from its queue: until it does, they wait
// there in order. Nothing more is needed to hold them.
DWORD Win32Notification::holdMessages(HWND window) { return IsWindow(window) ? 0 : ERROR_INVALID_HANDLE; }

DWORD Win32Notification::releaseMessages(HWND window) { return IsWindow(window) ? 0 : ERROR_INVALID_HANDLE; }

}  // namespace utils::win32port
