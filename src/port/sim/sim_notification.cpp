#include "port/sim/sim_notification.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "port/sim/sim_platform.h"

namespace utils::sim {

struct SimNotification::ThreadRecord {
  bool finished = false;
  bool waiting = false;
  const Event* event = nullptr;
  uint64_t deadline = 0;
};

namespace {
thread_local SimNotification::ThreadRecord* tCurrentThread = nullptr;
}  // namespace

class SimNotification::Event : public port::WakeEvent {
 public:
  explicit Event(SimNotification& owner) : owner_(owner) {}

  void signal() override {
    std::lock_guard lock(owner_.mutex_);
    signalled_ = true;
    owner_.changed_.notify_all();
  }

  DWORD wait(DWORD ms) override {
    std::unique_lock lock(owner_.mutex_);
    ThreadRecord* self = tCurrentThread;
    const uint64_t deadline = ms == INFINITE ? UINT64_MAX : owner_.now() + ms;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
      if (signalled_) {
        signalled_ = false;
        result = WAIT_OBJECT_0;
        break;
      }
      if (owner_.now() >= deadline) break;
      if (self != nullptr) *self = ThreadRecord{false, true, this, deadline};
      owner_.changed_.notify_all();
      owner_.changed_.wait(lock);
    }
    if (self != nullptr) self->waiting = false;
    ++owner_.waitsEnded_;
    owner_.changed_.notify_all();
    return result;
  }

  bool signalledLocked() const { return signalled_; }

 private:
  SimNotification& owner_;
  bool signalled_ = false;  // guarded by the owner's mutex
};

class SimNotification::Thread : public port::WorkerThread {
 public:
  explicit Thread(std::thread thread) : thread_(std::move(thread)) {}
  ~Thread() override {
    if (thread_.joinable()) thread_.detach();
  }
  void join() override {
    if (thread_.joinable()) thread_.join();
  }
  bool isCurrent() const override { return thread_.get_id() == std::this_thread::get_id(); }

 private:
  std::thread thread_;
};

SimNotification::~SimNotification() = default;

uint64_t SimNotification::now() const { return clock_.monotonicMs(); }

DWORD SimNotification::createWindow(const wchar_t* className, port::MessageWindowHandler* handler, HWND* window) {
  std::lock_guard lock(mutex_);
  *window = nullptr;
  if (createWindowError_ != 0) return createWindowError_;
  *window = reinterpret_cast<HWND>(nextHandle_++);
  windows_[*window] = handler;
  windowClasses_.push_back(className);
  return 0;
}

DWORD SimNotification::destroyWindow(HWND window) {
  std::lock_guard lock(mutex_);
  if (windows_.erase(window) == 0) return ERROR_INVALID_HANDLE;
  held_.erase(window);
  std::erase_if(registrations_, [window](const auto& entry) { return entry.second.window == window; });
  return 0;
}

UINT SimNotification::registerMessage(const char* name) {
  if (name == nullptr) return 0;
  std::lock_guard lock(mutex_);
  auto [it, added] = messages_.emplace(name, static_cast<UINT>(0xC000 + messages_.size()));
  return it->second;
}

DWORD SimNotification::registerInterfaceNotification(HWND window, const GUID& interfaceClass,
                                                     HDEVNOTIFY* registration) {
  std::function<void(bool)> hook;
  {
    std::lock_guard lock(mutex_);
    *registration = nullptr;
    if (windows_.count(window) == 0) return ERROR_INVALID_HANDLE;
    *registration = reinterpret_cast<HDEVNOTIFY>(nextHandle_++);
    registrations_[*registration] = Registration{window, false, interfaceClass};
    hook = registrationHook_;
  }
  if (hook) hook(false);
  return 0;
}

DWORD SimNotification::registerHandleNotification(HWND window, HANDLE radio, HDEVNOTIFY* registration) {
  std::function<void(bool)> hook;
  {
    std::lock_guard lock(mutex_);
    *registration = nullptr;
    if (handleRegistrationError_ != 0) return handleRegistrationError_;
    if (windows_.count(window) == 0 || radio == nullptr) return ERROR_INVALID_HANDLE;
    *registration = reinterpret_cast<HDEVNOTIFY>(nextHandle_++);
    registrations_[*registration] = Registration{window, true, {}};
    registeredRadios_.push_back(radio);
    hook = registrationHook_;
  }
  if (hook) hook(true);
  return 0;
}

void SimNotification::onRegistration(std::function<void(bool isHandle)> hook) {
  std::lock_guard lock(mutex_);
  registrationHook_ = std::move(hook);
}

DWORD SimNotification::holdMessages(HWND window) {
  std::lock_guard lock(mutex_);
  if (windows_.count(window) == 0) return ERROR_INVALID_HANDLE;
  held_.insert(window);
  return 0;
}

DWORD SimNotification::releaseMessages(HWND window) {
  std::lock_guard lock(mutex_);
  if (windows_.count(window) == 0) return ERROR_INVALID_HANDLE;
  held_.erase(window);
  return 0;
}

DWORD SimNotification::unregisterNotification(HDEVNOTIFY registration) {
  std::lock_guard lock(mutex_);
  return registrations_.erase(registration) == 1 ? 0 : ERROR_INVALID_HANDLE;
}

DWORD SimNotification::createWakeEvent(std::unique_ptr<port::WakeEvent>* event) {
  *event = std::make_unique<Event>(*this);
  return 0;
}

DWORD SimNotification::startThread(std::function<void()> entry, std::unique_ptr<port::WorkerThread>* thread) {
  auto record = std::make_shared<ThreadRecord>();
  {
    std::lock_guard lock(mutex_);
    threads_.push_back(record);
  }
  *thread = std::make_unique<Thread>(std::thread([this, record, entry = std::move(entry)] {
    tCurrentThread = record.get();
    entry();
    std::lock_guard lock(mutex_);
    record->waiting = false;
    record->finished = true;
    changed_.notify_all();
  }));
  return 0;
}

void SimNotification::postRadioArrival() {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, registration] : registrations_) {
    if (registration.isHandle) continue;
    port::DeviceBroadcast record{port::kDbtDevTypeDeviceInterface, registration.interfaceClass, {}};
    enqueueLocked(registration.window, handle, port::kDbtDeviceArrival, record);
  }
}

void SimNotification::postRadioRemoval() {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, registration] : registrations_) {
    if (registration.isHandle) continue;
    port::DeviceBroadcast record{port::kDbtDevTypeDeviceInterface, registration.interfaceClass, {}};
    enqueueLocked(registration.window, handle, port::kDbtDeviceRemoveComplete, record);
  }
}

void SimNotification::postToHandleRegistrations(const port::DeviceBroadcast& record) {
  std::lock_guard lock(mutex_);
  for (const auto& [handle, registration] : registrations_) {
    if (registration.isHandle) enqueueLocked(registration.window, handle, port::kDbtCustomEvent, record);
  }
}

void SimNotification::postConnection(ULONGLONG address, BYTE connectionType, bool connected) {
  postToHandleRegistrations(port::DeviceBroadcast{port::kDbtDevTypeHandle, port::kGuidBluetoothHciEvent,
                                                  port::hciEventInfoData(address, connectionType, connected)});
}

void SimNotification::postVendorData(std::vector<BYTE> data) {
  postToHandleRegistrations(
      port::DeviceBroadcast{port::kDbtDevTypeHandle, port::kGuidBluetoothHciVendorEvent, std::move(data)});
}

void SimNotification::postSignalEvent(BYTE status, ULONGLONG address, int8_t dbm) {
  BYTE parameters[9] = {0x8E, status};
  for (int i = 0; i < 6; ++i) parameters[2 + i] = static_cast<BYTE>(address >> (8 * (5 - i)));
  parameters[8] = static_cast<BYTE>(dbm);
  postVendorData(port::vendorEventData(parameters, sizeof parameters));
}

void SimNotification::postToWindows(DWORD event, std::optional<port::DeviceBroadcast> record) {
  std::lock_guard lock(mutex_);
  for (const auto& [window, handler] : windows_) enqueueLocked(window, nullptr, event, record);
}

void SimNotification::enqueueLocked(HWND window, HDEVNOTIFY registration, DWORD event,
                                    std::optional<port::DeviceBroadcast> record) {
  queue_.push_back(Posted{window, registration, event, std::move(record), nextSequence_++, std::this_thread::get_id()});
}

void SimNotification::postMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard lock(mutex_);
  Posted posted{window, nullptr, message, std::nullopt, nextSequence_++, std::this_thread::get_id()};
  posted.isMessage = true;
  posted.wParam = wParam;
  posted.lParam = lParam;
  queue_.push_back(std::move(posted));
}

size_t SimNotification::pump() {
  size_t delivered = 0;
  uint64_t postedBefore = 0;
  {
    std::lock_guard lock(mutex_);
    postedBefore = nextSequence_;
  }
  const std::thread::id self = std::this_thread::get_id();
  for (;;) {
    Posted message;
    port::MessageWindowHandler* handler = nullptr;
    {
      std::lock_guard lock(mutex_);
      // A held window's messages stay where they are.
      auto next = std::find_if(queue_.begin(), queue_.end(),
                               [this](const Posted& posted) { return held_.count(posted.window) == 0; });
      if (next == queue_.end()) return delivered;
      // Another thread's message from after the start waits, and so does what
      // follows it, to keep the order.
      if (next->sequence >= postedBefore && next->poster != self) return delivered;
      message = std::move(*next);
      queue_.erase(next);
      auto window = windows_.find(message.window);
      // Nothing is delivered for a window or a registration that has ended since.
      if (window == windows_.end()) continue;
      if (message.registration != nullptr && registrations_.count(message.registration) == 0) continue;
      handler = window->second;
    }
    if (message.isMessage) {
      handler->onMessage(message.event, message.wParam, message.lParam);
    } else {
      handler->onDeviceChange(message.event, message.record ? &*message.record : nullptr);
    }
    ++delivered;
  }
}

bool SimNotification::idleLocked() const {
  const uint64_t current = now();
  for (const auto& thread : threads_) {
    if (thread->finished) continue;
    if (!thread->waiting || thread->event->signalledLocked() || thread->deadline <= current) return false;
  }
  return true;
}

bool SimNotification::settle() {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return idleLocked(); });
}

bool SimNotification::advance(uint64_t ms) {
  clock_.advanceMs(ms);
  {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }
  return settle();
}

size_t SimNotification::waitsEnded() const {
  std::lock_guard lock(mutex_);
  return waitsEnded_;
}

size_t SimNotification::threadsStarted() const {
  std::lock_guard lock(mutex_);
  return threads_.size();
}

size_t SimNotification::threadsRunning() const {
  std::lock_guard lock(mutex_);
  size_t running = 0;
  for (const auto& thread : threads_) running += thread->finished ? 0 : 1;
  return running;
}

size_t SimNotification::windowCount() const {
  std::lock_guard lock(mutex_);
  return windows_.size();
}

size_t SimNotification::registrationCount() const {
  std::lock_guard lock(mutex_);
  return registrations_.size();
}

std::vector<HANDLE> SimNotification::registeredRadios() const {
  std::lock_guard lock(mutex_);
  return registeredRadios_;
}

std::vector<std::wstring> SimNotification::windowClasses() const {
  std::lock_guard lock(mutex_);
  return windowClasses_;
}

}  // namespace utils::sim
